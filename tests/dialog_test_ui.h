#pragma once
// A user interface for the dialog tests that plays the user from a script: it answers message boxes,
// the folder chooser and popup menus from queues, runs a script for each modal form, and records
// everything it was asked to show.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dialog/form.h"
#include "dialog/ui_host.h"
#include "host/module_state.h"

namespace klvr::test {

class FakeKeyboard : public KeyboardState {
  public:
    bool capsLock = false;
    int toggles = 0;
    bool CapsLock() const override { return capsLock; }
    void ToggleCapsLock() override {
        capsLock = !capsLock;
        ++toggles;
    }
};

class ScriptedUi : public UiHost {
  public:
    struct FolderRequest {
        std::string title, startFolder;
    };
    struct MenuRequest {
        PopupMenu menu;
        int x, y;
    };

    // shown
    std::vector<MessageBox> messages;
    int beeps = 0;
    std::vector<FolderRequest> folderRequests;
    std::vector<std::string> startedPrograms;
    std::vector<std::string> modalForms;
    std::vector<MenuRequest> menus;
    FakeKeyboard keyboard;

    // answers; when a queue is empty: Ok (No for a Yes/No question), a cancelled chooser, a dismissed menu
    std::deque<MessageAnswer> answers;
    std::deque<std::string> folders;
    std::deque<std::uint16_t> menuChoices;
    // per form name, one script per showing; a form still open after its script is closed by its close box
    std::map<std::string, std::deque<std::function<void(Form&)>>> scripts;

    void Script(const std::string& form, std::function<void(Form&)> script) {
        scripts[form].push_back(std::move(script));
    }

    std::vector<std::string> MessageTitles() const {
        std::vector<std::string> titles;
        for (const auto& m : messages) titles.push_back(m.title);
        return titles;
    }

    MessageAnswer ShowMessage(const Form*, const MessageBox& message) override {
        messages.push_back(message);
        if (answers.empty())
            return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
        const MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    void Beep() override { ++beeps; }
    std::string ChooseFolder(const Form*, const std::string& title, const std::string& start) override {
        folderRequests.push_back({title, start});
        if (folders.empty()) return "";
        std::string f = folders.front();
        folders.pop_front();
        return f;
    }
    bool StartProgram(const std::string& path) override {
        startedPrograms.push_back(path);
        return false;
    }
    void ShowModal(Form& form) override {
        modalForms.push_back(form.Name());
        auto& queue = scripts[form.Name()];
        if (!queue.empty()) {
            auto script = std::move(queue.front());
            queue.pop_front();
            script(form);
        }
        if (!form.IsClosed()) form.UserClose();
    }
    std::uint16_t ShowPopupMenu(const Form&, const PopupMenu& menu, int x, int y) override {
        menus.push_back({menu, x, y});
        if (menuChoices.empty()) return 0;
        const std::uint16_t id = menuChoices.front();
        menuChoices.pop_front();
        return id;
    }
    KeyboardState& Keyboard() override { return keyboard; }
};

// Resets the module state and installs a fresh scripted interface as the one Props uses.
inline std::shared_ptr<ScriptedUi> InstallScriptedUi() {
    ResetModuleState();
    auto ui = std::make_shared<ScriptedUi>();
    moduleState().uiHostFactory = [ui] { return ui; };
    return ui;
}

}  // namespace klvr::test
