list(APPEND SM_CORE_SOURCES
  fax/fax_cover.cpp)
