# The plain window-at-every-offset scanner that the block scanner is compared with, for the
# analysis tests and the scan fuzz target (which is built without the tests).
sonvex_library(analysis_oracle
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/reference_scanner.cpp
  PUBLIC_LIBS analysis
  PRIVATE_LIBS convlist chunkfile bank2dls)
