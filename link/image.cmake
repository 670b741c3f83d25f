# Upgrade image files: the section CRC, the reader with its tag walk, and the image builder that
# the image tool, the tests and the benchmarks use to make files.
target_sources(kbr_link PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ImageCrc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UpgradeImage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageBuilder.cpp
)
