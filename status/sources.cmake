list(APPEND SM_CORE_SOURCES
  status/status_dialog.cpp)
