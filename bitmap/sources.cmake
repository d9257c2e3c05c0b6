list(APPEND SM_CORE_SOURCES
  bitmap/bmpfile.cpp
  bitmap/wmrecord.cpp
  bitmap/halftone.cpp
  bitmap/wmtext.cpp
  bitmap/wmtile.cpp)
