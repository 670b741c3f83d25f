#pragma once
// The page functions of code 1003: what a page asks the program to run, by number. The numbers
// are the page set's, so they never change; the names are the page constants where the page set
// has one.

namespace kbr {

enum class PageFunction : int {
    FUNC_LOGIN = 0,
    FUNC_GETCONFIG = 1,
    FUNC_SET_ADMIN_PSWD = 2,
    FUNC_SET_CHAN_MASK = 3,
    FUNC_SET_SWCONFIG = 4,
    FUNC_SET_MOCA_PSWD = 5,
    FUNC_SET_DIPLEXER_MODE = 6,
    FUNC_SET_CONFIG = 7,
    FUNC_UPGRADE_IMAGE = 8,
    FUNC_GET_DIAG = 9,
    FUNC_ACTION = 10,
    FUNC_SET_SCAN_MASK = 11,
    FUNC_GET_PRODUCT_ID = 12,
    FUNC_GET_IMAGE_VERSION = 13,
    FUNC_READ_IMAGE_VERSION = 14,
    FUNC_GET_FIRMWARE_VERSION = 15,
};

constexpr int FunctionNumber(PageFunction function) { return static_cast<int>(function); }

}  // namespace kbr
