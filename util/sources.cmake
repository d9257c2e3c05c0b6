list(APPEND SM_CORE_SOURCES
  util/trace.cpp
  util/osver.cpp
  util/paths.cpp
  util/ini.cpp
  util/registry.cpp
  util/spooler.cpp)
