# Text a peer sent, made safe to print (the simulator's log, kbr3300-talk).
target_sources(kbr_link PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PrintableText.cpp)
