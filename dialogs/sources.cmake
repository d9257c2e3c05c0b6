list(APPEND SM_CORE_SOURCES
  dialogs/dialog_text.cpp
  dialogs/credentials.cpp
  dialogs/secure_dialog.cpp
  dialogs/accounting_dialog.cpp)
