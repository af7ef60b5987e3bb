#pragma once
// The application object: runs the main dialog once and ends the program.
#include "platform/Window.h"

#include <functional>

class CTikkaraDlg;

// A window layer that can also run a dialog modally: it calls the dialog's
// OnInitDialog once its controls exist and returns the result given to
// EndDialog.
class IDialogHost : public IWindow {
public:
    virtual int DoModal(CTikkaraDlg& dialog) = 0;
};

class CTikkaraApp {
public:
    CTikkaraApp() = default;
    ~CTikkaraApp() = default;
    CTikkaraApp(const CTikkaraApp&) = delete;
    CTikkaraApp& operator=(const CTikkaraApp&) = delete;

    // Constructs the main dialog on `host` with the real sockets and clock,
    // hands it to `beforeRun` (what the command line asks to do first), runs
    // it modally and destroys it. Returns false: no application loop
    // follows, so the program ends when the dialog closes.
    bool InitInstance(IDialogHost& host, const std::function<void(CTikkaraDlg&)>& beforeRun = {});
};

// The one application object, constructed before main runs.
extern CTikkaraApp theApp;
