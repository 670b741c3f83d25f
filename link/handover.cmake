# Handing the link's reads to a waiting thread, for owners without an event loop.
target_sources(kbr_link PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ReplyHandOver.cpp
)
