// The real page set in the real browser host: pages served from the built PgPack.dll through the
// res scheme, commands arriving synchronously through the page bridge, page calls in both forms.
// The window records the commands; where the program answers during a command (1007, 1008) the
// test answers the same way.
#include "../browser/WebTestSupport.h"
#include "browser/PageScript.h"

#include <QDialog>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kbr::test {
namespace {

// The pages ask for windows up to this size.
const QSize PAGE_WINDOW_SIZE(825, 700);

using Commands = std::vector<std::pair<int, std::string>>;

class PagesInHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.created);
        host.onCommand = [this](const AppCommand& c) {
            if (c.code == 1008) host.control->Script().CallFunction("CallbackConfirm", {confirmAnswer});
            if (c.code == 1007) host.control->Script().CallFunction("CallbackAppVer", {"1.0.0.0"});
        };
    }

    void Open(const QString& name) {
        ASSERT_TRUE(host.LoadAndWait("res://PgPack.dll/" + name)) << name.toStdString();
        ASSERT_TRUE(host.lastLoadOk) << name.toStdString();
    }

    Commands Taken() {
        Commands out;
        for (const auto& c : host.commands) out.emplace_back(c.code, c.argument);
        host.commands.clear();
        return out;
    }

    // Runs script in the page; commands it sends are recorded before Eval returns.
    Commands Run(const QString& script) {
        host.commands.clear();
        Eval(host.control, script);
        return Taken();
    }

    // A configuration read as the program delivers it: storeConfig in the array form per value,
    // then display_config without parameters; all calls in order. Made right after the load, while
    // the document may not be bound yet: the host delivers them once it is.
    void DeliverConfig(const std::vector<std::pair<std::string, std::string>>& values) {
        int done = 0;
        for (const auto& [id, value] : values)
            host.control->Script().CallFunctionWithArray("storeConfig", {id, value}, nullptr,
                                                         [&done](bool ran, const std::string&) {
                                                             EXPECT_TRUE(ran);
                                                             ++done;
                                                         });
        host.control->Script().CallFunction("display_config", {}, nullptr,
                                            [&done](bool, const std::string&) { ++done; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done == static_cast<int>(values.size()) + 1; }, LOAD_TIMEOUT_MS));
    }

    // Message boxes are recorded, never shown: none may come.
    void TearDown() override {
        std::vector<std::string> boxes;
        for (const MessageBoxRequest& box : host.services.boxes) {
            boxes.push_back(box.caption.toStdString() + ": " + box.text.toStdString());
        }
        EXPECT_EQ(boxes, std::vector<std::string>());
    }

    TestHost host{nullptr, PAGE_WINDOW_SIZE};
    std::string confirmAnswer = "1";
};

TEST_F(PagesInHost, LoginPageLoadsWithItsScriptsStyleAndImages) {
    ASSERT_TRUE(host.LoadAndWait("res://PgPack.dll//Index.html"));
    ASSERT_TRUE(host.lastLoadOk);
    EXPECT_EQ(Taken(), (Commands{{1001, "825@550"}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.control->IsBound(); }, LOAD_TIMEOUT_MS));
    EXPECT_EQ(host.control->PageTitle(), "Ethernet Coax Bridge - Login");
    // Data scripts without an extension ("1") and version.js ran after ecb.js.
    EXPECT_EQ(Eval(host.control, "typeof bridge_Id + ':' + fware_ver + ':' + typeof MFCLogin").toString(),
              "string:1.0.0:function");
    EXPECT_EQ(Eval(host.control, "getComputedStyle(document.body).backgroundColor").toString(), "rgb(188, 191, 192)");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Eval(host.control, "Array.from(document.images).every((i) => i.complete && i.naturalWidth > 0)")
                .toBool();
        },
        LOAD_TIMEOUT_MS));
}

TEST_F(PagesInHost, LoginSendsThePasswordAndAcceptedLoginGoesToSetup) {
    Open("index.html");
    Taken();
    EXPECT_EQ(Run("document.forms.login.AdminPswd.value = 'admin'; document.forms.login.Login.click()"),
              (Commands{{1003, "0:admin"}}));
    const int before = host.loads;
    bool done = false;
    host.control->Script().CallFunction("CallbackLogin", {"0"}, nullptr,
                                        [&](bool, const std::string&) { done = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done && host.loads > before; }, LOAD_TIMEOUT_MS));
    EXPECT_TRUE(Eval(host.control, "location.pathname").toString().endsWith("setup.html"));
    EXPECT_EQ(Taken(), (Commands{{1001, "825@725"}, {1003, "1:"}}));
}

TEST_F(PagesInHost, SetupPageShowsTheDeliveredConfigurationAndSendsChanges) {
    Open("setup.html");
    EXPECT_EQ(Taken(), (Commands{{1001, "825@725"}, {1003, "1:"}}));
    DeliverConfig({{"100", "1.2.3.4"}, {"1", "0"}, {"3", "8191"}, {"4", "16384"}});
    EXPECT_EQ(Eval(host.control,
                   "(() => { const s = document.forms.setup.fs_channel; "
                   "return s.options[s.selectedIndex].text; })()")
                  .toString(),
              "15 (1150 Mhz)");
    EXPECT_EQ(Eval(host.control, "document.getElementById('ver').textContent").toString(),
              QString::fromUtf8("\u00a0\u00a0v\u00a01.2.3.4\u00a0\u00a0"));
    EXPECT_EQ(Run("(() => { const s = document.forms.setup.fs_channel; s.value = '21'; "
                  "s.dispatchEvent(new Event('change')); })()"),
              (Commands{{1003, "3:1048576"}}));
    EXPECT_EQ(Run("document.forms.setup.privacy[1].click()"), (Commands{{1003, "4:4095"}}));
    EXPECT_EQ(Run("document.forms.setup.Apply.click()"), (Commands{{1003, "7:"}, {1003, "1:"}}));
}

TEST_F(PagesInHost, FactoryResetReadsTheConfirmationAnswerDuringTheCommand) {
    Open("factory_reset.html");
    EXPECT_EQ(Taken(), (Commands{{1001, "770@675"}, {1005, ""}, {1007, ""}, {1003, "1:"}}));
    DeliverConfig({{"3", "4101"}});

    confirmAnswer = "0";
    Commands sent = Run("document.getElementsByName('controlDisable')[0].click()");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].first, 1008);

    confirmAnswer = "1";
    sent = Run("document.getElementsByName('controlDisable')[0].click()");
    EXPECT_EQ(sent, (Commands{{1008, sent.empty() ? "" : sent[0].second},
                              {1006, "CallbackLocal"},
                              {1003, "2:admin"},
                              {1003, "3:357908480"},
                              {1003, "11:357908480"},
                              {1003, "4:5"},
                              {1003, "5:40527163948205716"},
                              {1003, "6:0"},
                              {1003, "7:"}}));
    EXPECT_TRUE(Eval(host.control, "document.getElementsByName('controlDisable')[0].disabled").toBool());
    EXPECT_TRUE(Eval(host.control, "document.getElementById('appVer').textContent").toString().contains("1.0.0.0"));

    // The completion, as CompleteOperation delivers it.
    bool done = false;
    host.control->Script().CallFunction("CallbackLocal", {"0"}, nullptr,
                                        [&](bool, const std::string&) { done = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, LOAD_TIMEOUT_MS));
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.commands.size() >= 3; }, LOAD_TIMEOUT_MS));
    EXPECT_EQ(Taken(), (Commands{{1004, "Setup,Operation%20Successful!"}, {1006, ""}, {1003, "1:"}}));
    EXPECT_FALSE(Eval(host.control, "document.getElementsByName('controlDisable')[0].disabled").toBool());
}

TEST_F(PagesInHost, LinkStatusPageWithTheDataScriptsTable) {
    Open("link_status.html");
    EXPECT_EQ(Taken(), (Commands{{1001, "825@750"}}));
    EXPECT_EQ(Eval(host.control, "document.querySelectorAll('table.matrix input').length").toInt(), 4);
}

}  // namespace
}  // namespace kbr::test
