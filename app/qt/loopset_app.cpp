#include "loopset_app.h"

#include <QApplication>
#include <QTimer>
#include <memory>

#include "dialog_units.h"
#include "loopset_window.h"

bool CLoopsetApp::InitInstance() {
    // Message boxes and menus use the dialog's font too, so Hangul in them
    // comes from the same Korean font.
    QApplication::setFont(DialogFont());

    // On the heap: the dialog embeds the link's three 64 KiB buffers.
    auto window = std::make_unique<CLoopsetWindow>();
    if (m_options.quitAfterMs > 0) {
        QTimer::singleShot(m_options.quitAfterMs, window.get(), [w = window.get()] {
            // Whatever is open on top (a message box) goes too.
            if (QWidget *modal = QApplication::activeModalWidget(); modal && modal != w)
                modal->close();
            w->EndDialog(kDialogCancel);
        });
    }
    window->RunModal();
    window.reset();
    return false;
}
