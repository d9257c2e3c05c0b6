list(APPEND SM_CORE_SOURCES
  status/status_dialog.cpp
  status/status_draw.cpp)
