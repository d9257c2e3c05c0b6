list(APPEND SM_CORE_SOURCES
  fax/fax_paths.cpp
  fax/fax_templates.cpp
  fax/fax_draw.cpp
  fax/fax_cover.cpp)
