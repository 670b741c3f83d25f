# The Windows build made on Linux runs its programs under Wine: CTest and test discovery start
# every Windows program through wine-run (CMAKE_CROSSCOMPILING_EMULATOR), with a Wine prefix of
# the build folder's own.
include_guard(GLOBAL)

find_program(KBR_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(KBR_WINE NAMES wine64 wine)
find_program(KBR_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(KBR_WINESERVER NAMES wineserver64 wineserver)
if(NOT KBR_WINE OR NOT KBR_WINESERVER)
  message(WARNING "Wine (wine64) not found: the Windows tests cannot run here (scripts/install-deps --windows)")
  return()
endif()

set(KBR_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# Every test that runs a Windows program requires the fixture KBR_WINE_FIXTURE (kbr_add_gtest and
# the other test helpers add it): once they have run, the Wine server that served them is ended.
set(KBR_WINE_FIXTURE wine_server)
function(kbr_add_wine_server_fixture)
  add_test(NAME wine_server_stop COMMAND ${CMAKE_BINARY_DIR}/wine-run --stop-server)
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP ${KBR_WINE_FIXTURE} TIMEOUT 60)
endfunction()
