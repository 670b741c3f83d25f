# Upgrade image files: the section CRC and the reader with its tag walk (the builder that makes
# files lives with the image tool, devtools/image).
target_sources(kbr_link PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ImageCrc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UpgradeImage.cpp
)
