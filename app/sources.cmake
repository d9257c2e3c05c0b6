list(APPEND SM_CORE_SOURCES
  app/globals.cpp
  app/language.cpp
  app/runvalue.cpp
  app/appstrings.cpp
  app/dispatch.cpp
  app/startup.cpp
  app/startlock.cpp
  app/wndproc.cpp)
