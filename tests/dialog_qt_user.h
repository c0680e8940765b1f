#pragma once
// Plays the user on the real windows of the dialogs, under Qt's offscreen platform. A test lists steps,
// each for a window (a form's window by its form name, a message box by "QMessageBox", a popup menu by
// "QMenu"); a step runs once its window is the one the user faces, and acts on it with QTest as a user
// would. A step that opens another modal window returns only when that window has closed, so steps of
// nested windows simply follow one another.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "dialog/qt/qt_application.h"
#include "dialog/qt/qt_ui_host.h"
#include "host/module_state.h"

// gtest shows Qt's strings as text
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace klvr::test {

// Qt's offscreen platform and the module's Qt user interface, for a test of the windows.
inline void UseOffscreenQt() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // the offscreen platform tells of every window-manager request it cannot carry out
    static const QtMessageHandler standard =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (standard && !text.startsWith("This plugin does not support")) standard(type, context, text);
        });
    ASSERT_TRUE(qt::EnsureApplication());
    ResetModuleState();
    moduleState().uiHostFactory = &qt::MakeQtUiHost;
}

class QtUser {
  public:
    using Step = std::function<void(QWidget&)>;

    void When(const std::string& window, Step step) { steps_.push_back({window, std::move(step)}); }

    // Runs body, which shows the windows, while the steps play; a window still open when no step is
    // left for it (or after a minute) is closed by its close box so that the test ends and fails.
    void Run(const std::function<void()>& body) {
        deadline_ = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        WhilePolling(body);
        EXPECT_TRUE(steps_.empty()) << "no window came for the step of " << steps_.front().window;
    }

  private:
    struct Pending {
        std::string window;
        Step step;
    };

    static QWidget* Facing() {
        if (QWidget* popup = QApplication::activePopupWidget()) return popup;
        return QApplication::activeModalWidget();
    }

    static bool Is(QWidget& w, const std::string& window) {
        return w.objectName().toStdString() == window || w.inherits(window.c_str());
    }

    // Qt does not run a timer again while its handler runs, so each step that may open nested windows
    // runs under a timer of its own.
    void WhilePolling(const std::function<void()>& body) {
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] { Poll(); });
        timer.start();
        body();
    }

    void Poll() {
        QWidget* w = Facing();
        if (!w || !w->isVisible()) return;
        if (!steps_.empty() && Is(*w, steps_.front().window)) {
            const Step step = std::move(steps_.front().step);
            steps_.pop_front();
            acting_.push_back(w);
            WhilePolling([&] {
                // the offscreen platform has no window manager to activate a new window
                if (!w->isActiveWindow()) {
                    w->activateWindow();
                    EXPECT_TRUE(QTest::qWaitForWindowActive(w));
                }
                step(*w);
            });
            acting_.pop_back();
            return;
        }
        if (std::find(acting_.begin(), acting_.end(), w) != acting_.end()) return;  // its step goes on
        if (std::chrono::steady_clock::now() > deadline_ || steps_.empty()) {
            ADD_FAILURE() << "unexpected window " << w->objectName().toStdString() << " ("
                          << w->metaObject()->className() << ") " << w->windowTitle().toStdString();
            w->close();
        }
    }

    std::deque<Pending> steps_;
    std::chrono::steady_clock::time_point deadline_;
    std::vector<QWidget*> acting_;  // windows whose steps are running
};

template <typename W = QWidget>
W& Find(QWidget& window, const char* name) {
    W* w = window.findChild<W*>(name);
    if (!w) throw std::runtime_error(std::string("no widget ") + name);
    return *w;
}

// Clicks a button, or the box or circle of a check box or option (beside its text the row is not a
// target, as for a user).
inline void Click(QWidget& window, const char* name) {
    QWidget& w = Find(window, name);
    const bool indicator = w.inherits("QCheckBox") || w.inherits("QRadioButton");
    QTest::mouseClick(&w, Qt::LeftButton, {}, indicator ? QPoint(8, w.height() / 2) : w.rect().center());
}

// Clicks into a text field, replaces its text by typing and leaves it with the Tab key.
inline void TypeInto(QWidget& window, const char* name, const QString& text) {
    auto& edit = Find<QLineEdit>(window, name);
    QTest::mouseClick(&edit, Qt::LeftButton);
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&edit, text);
    QTest::keyClick(&edit, Qt::Key_Tab);
}

// Picks the item with that text in an open popup menu, with the keyboard.
inline void Choose(QWidget& menu, const QString& text) {
    auto& m = static_cast<QMenu&>(menu);
    for (QAction* a : m.actions()) {
        if (a->text() == text) {
            m.setActiveAction(a);
            QTest::keyClick(&m, Qt::Key_Return);
            return;
        }
    }
    ADD_FAILURE() << "no menu item " << text.toStdString();
    m.close();
}

// Answers the message box with the button of that text, after checking its title and text.
inline QtUser::Step Answer(const std::string& title, const std::string& text, const QString& button = "OK") {
    return [=](QWidget& w) {
        auto& box = static_cast<QMessageBox&>(w);
        EXPECT_EQ(box.windowTitle().toStdString(), title);
        EXPECT_EQ(box.text().toStdString(), text);
        for (QAbstractButton* b : box.buttons())
            if (b->text().remove('&') == button) {
                QTest::mouseClick(b, Qt::LeftButton);
                return;
            }
        ADD_FAILURE() << "no button " << button.toStdString();
        box.close();
    };
}

}  // namespace klvr::test
