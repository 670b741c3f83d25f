// The Linux ipconfig's command line.

#include "iphelpers/ipconfig/IpconfigArguments.h"

#include <gtest/gtest.h>

namespace kbr::ipconfig {
namespace {

TEST(IpconfigArgumentsTest, AcceptsTheWindowsForms) {
    struct Row {
        std::vector<std::string> args;
        std::optional<Action> action;
        std::string adapter;
    };
    const std::vector<Row> rows = {
        {{}, Action::Show, ""},
        {{"/all"}, Action::Show, ""},
        {{"/release"}, Action::Release, ""},
        {{"/RENEW"}, Action::Renew, ""},
        {{"-renew"}, Action::Renew, ""},
        {{"--release", "eth0"}, Action::Release, "eth0"},
        {{"/?"}, Action::Help, ""},
        {{"release"}, std::nullopt, ""},
        {{"/"}, std::nullopt, ""},
        {{"/flushdns"}, std::nullopt, ""},
        {{"/renew", "eth0", "eth1"}, std::nullopt, ""},
        {{"/renew", "-r"}, std::nullopt, ""},  // never an option for the tools we run
        {{"/renew", "../x"}, std::nullopt, ""},
        {{"/renew", "averyveryverylongname"}, std::nullopt, ""},
        {{"/all", "eth0"}, std::nullopt, ""},
    };
    for (const Row& row : rows) {
        const auto request = ParseArguments(row.args);
        const std::string label = row.args.empty() ? "(none)" : row.args[0];
        ASSERT_EQ(request.has_value(), row.action.has_value()) << label;
        if (request) {
            EXPECT_EQ(request->action, *row.action) << label;
            EXPECT_EQ(request->adapter, row.adapter) << label;
        }
    }
}

}  // namespace
}  // namespace kbr::ipconfig
