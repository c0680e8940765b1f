#include "util/folder_browser.h"

#include "dialog/ui_host.h"

namespace klvr {

std::string BrowseForFolder(UiHost& ui, const Form* owner, const std::string& title,
                            const std::string& startFolder) {
    std::string path = ui.ChooseFolder(owner, title, startFolder);
    // A chooser that hands back a fixed-size buffer ends the path at its first NUL.
    if (const auto nul = path.find('\0'); nul != std::string::npos) path.erase(nul);
    return path;
}

std::string BrowseFolderOrKeep(UiHost& ui, const Form* owner, const std::string& title,
                               const std::string& startFolder) {
    std::string chosen = BrowseForFolder(ui, owner, title, startFolder);
    return chosen.empty() ? startFolder : chosen;
}

}  // namespace klvr
