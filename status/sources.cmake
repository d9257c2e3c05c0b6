list(APPEND SM_CORE_SOURCES
  status/status_dialog.cpp
  status/status_draw.cpp)
# Fault list, spooler status and job control; message catalogue; wake-up job.
list(APPEND SM_CORE_SOURCES
  status/faults.cpp
  status/catalogue.cpp
  status/preheat.cpp)
