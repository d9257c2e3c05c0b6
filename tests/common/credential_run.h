// Driving the program's credential dialogs from a test: a run of the program with its dialog
// open, typed into and clicked as a user would.
#pragma once
#include "smtest.h"
#include <string>
#include <utility>

// Control ids of the secure print and accounting dialog templates.
enum {
    SEC_ID = 1013, SEC_PWD = 1014, SEC_REMOVE = 1015, SEC_ID_LABEL = 1053, SEC_ID_HELP = 1054,
    SEC_PWD_LABEL = 1055, SEC_PWD_HELP = 1056, SEC_OK = 1057,
    ACT_NAME = 1031, ACT_PWD = 1032, ACT_NAME_LABEL = 1033, ACT_NAME_HELP = 1034,
    ACT_PWD_LABEL = 1035, ACT_PWD_HELP = 1036, ACT_OK = 1038,
};

std::wstring SmWindowText(HWND hwnd);
std::wstring SmIniMessage();                       // "Printer Information" / "Message" of the exchange file

// One run of the program with a credential dialog open.
class CredentialRun {
public:
    ~CredentialRun();

    // Starts the program and waits until its dialog is up and painted (the texts are set on paint).
    bool Open(const std::wstring& args, int idPaintedLabel);

    HWND Dlg() const { return m_hDlg; }
    HWND Item(int id) const { return GetDlgItem(m_hDlg, id); }
    std::wstring ItemText(int id) const { return SmWindowText(Item(id)); }

    void Type(int id, const std::wstring& text) const;          // each character as WM_CHAR
    bool Paste(int id, const std::wstring& text) const;         // through the clipboard
    std::pair<int, int> Selection(int id) const;                // start and end
    void Click(int id) const { SendMessageW(Item(id), BM_CLICK, 0, 0); }
    void Sync() const;                                          // the dialog's queue handled

    // OK pressed: the dialog posts itself WM_CLOSE, which writes "Message" = 1028 first.
    bool ClickOkAndWaitForCloseRequest(int idOk);

    SmChild& Child() { return m_child; }

private:
    SmChild m_child;
    HWND m_hDlg = NULL;
};
