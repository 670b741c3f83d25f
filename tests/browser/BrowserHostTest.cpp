// The browser host with real pages from the fixture page library: the res scheme, the first
// document binding, both page call forms, script boxes, and the synchronous page bridge.
#include "WebTestSupport.h"

#include "browser/PageLibrary.h"
#include "browser/PageScript.h"
#include "browser/ResScheme.h"
#include "testkit/ScratchFolder.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace kbr::test {
namespace {

const QString START = QStringLiteral("res://PgPack.dll//Index.html");

QString Json(const QVariant& value) {
    return QString::fromUtf8(QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact));
}

class BrowserHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.created);
        ASSERT_TRUE(host.LoadAndWait(START));
        ASSERT_TRUE(host.lastLoadOk);
        ASSERT_TRUE(QTest::qWaitFor([&] { return host.documentReady == 1; }, LOAD_TIMEOUT_MS));
    }
    // Calls a page function and waits for the delivery to finish.
    std::pair<bool, std::string> Call(const std::string& name, const PageScript::StringList& args, bool asArray) {
        bool done = false;
        std::pair<bool, std::string> outcome;
        auto callback = [&](bool ran, const std::string& result) {
            outcome = {ran, result};
            done = true;
        };
        std::string result = "untouched";
        const bool sent = asArray ? host.control->Script().CallFunctionWithArray(name, args, &result, callback)
                                  : host.control->Script().CallFunction(name, args, &result, callback);
        EXPECT_TRUE(sent);
        EXPECT_EQ(result, "");  // results arrive through the callback
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, LOAD_TIMEOUT_MS));
        return outcome;
    }
    TestHost host;
};

TEST_F(BrowserHost, BindsTheFirstDocumentAndKeepsItsTitle) {
    EXPECT_EQ(host.control->PageTitle(), "Login Test");
    EXPECT_TRUE(host.control->IsBound());
    EXPECT_TRUE(
        Eval(host.control, "ecbLoaded === true && getComputedStyle(document.body).fontFamily.length > 0").toBool());

    ASSERT_TRUE(host.LoadAndWait("res://PgPack.dll/second.html"));
    EXPECT_TRUE(host.lastLoadOk);
    EXPECT_EQ(Eval(host.control, "document.title").toString(), "Second Page");
    QTest::qWait(0);
    EXPECT_EQ(host.documentReady, 1);
    EXPECT_EQ(host.control->PageTitle(), "Login Test");
}

TEST_F(BrowserHost, BothStartUrlsServeTheSamePageAndUnknownNamesFail) {
    const QString first = Eval(host.control, "document.documentElement.outerHTML").toString();
    ASSERT_TRUE(host.LoadAndWait("res://PgPack.dll/index.html"));
    EXPECT_TRUE(host.lastLoadOk);
    EXPECT_EQ(Eval(host.control, "document.documentElement.outerHTML").toString(), first);
    ASSERT_TRUE(host.LoadAndWait("res://PgPack.dll/no-such-page.html"));
    EXPECT_FALSE(host.lastLoadOk);
}

TEST(BrowserHostUnbound, AFailedFirstLoadLeavesTheControlUnbound) {
    TestHost host;
    ASSERT_TRUE(host.LoadAndWait("res://PgPack.dll/missing.html"));
    EXPECT_FALSE(host.lastLoadOk);
    EXPECT_FALSE(host.control->IsBound());
    EXPECT_EQ(host.documentReady, 0);
    EXPECT_FALSE(host.control->Script().CallFunction("record", {"x"}));  // nothing to call
}

TEST(BrowserHostUnbound, ADamagedPageLibraryServesNothing) {
    const testkit::ScratchFolder scratch("kbr-damaged-");
    const std::filesystem::path damaged = scratch.File("damaged.dll");
    {
        std::ofstream out(damaged, std::ios::binary);
        out << "MZ this is not a page library";
    }
    TestHost host;
    host.services.pageLibraryPath = damaged;
    const bool loaded = host.LoadAndWait(START);
    ASSERT_TRUE(loaded);
    EXPECT_FALSE(host.lastLoadOk);
    EXPECT_FALSE(host.control->IsBound());
}

TEST_F(BrowserHost, ParameterFormPassesOneStringPerElementInOrder) {
    EXPECT_EQ(Call("record", {"a", "b", "c"}, false), std::make_pair(true, std::string()));
    EXPECT_EQ(Call("record", {}, false).first, true);
    EXPECT_EQ(Json(Eval(host.control, "log")), R"([["a","b","c"],[]])");
}

TEST_F(BrowserHost, ArrayFormPassesOneVBArrayHoldingTheListReversed) {
    EXPECT_TRUE(Call("recordArray", {"a", "b", "c"}, true).first);
    EXPECT_TRUE(Call("recordArray", {}, true).first);
    EXPECT_TRUE(Call("recordArray", {"100", "1.2.3.4"}, true).first);
    EXPECT_EQ(Json(Eval(host.control, "log")),
              R"([{"dims":1,"first":"c","items":["c","b","a"],"lbound":0,"ubound":2},)"
              R"({"dims":1,"first":null,"items":[],"lbound":0,"ubound":-1},)"
              R"({"dims":1,"first":"1.2.3.4","items":["1.2.3.4","100"],"lbound":0,"ubound":1}])");
}

TEST_F(BrowserHost, ResultsMissingAndRaisingFunctions) {
    FakeHostServices& boxes = host.services;
    EXPECT_EQ(Call("returnsOne", {}, false), std::make_pair(true, std::string("1")));
    EXPECT_EQ(Call("returnsNumber", {}, false), std::make_pair(true, std::string()));
    EXPECT_EQ(Call("noSuchFunction", {"a"}, false).first, false);
    EXPECT_EQ(Call("noSuchFunction", {"a"}, true).first, false);
    EXPECT_TRUE(boxes.boxes.empty());

    EXPECT_EQ(Call("raises", {}, false).first, false);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "KBR3300");
    EXPECT_EQ(boxes.boxes[0].text, "Exception occurred.\r\n");
    EXPECT_EQ(boxes.boxes[0].type, MBOX_OK | MBOX_ICONHAND);
}

TEST_F(BrowserHost, HostileStringsArriveUnchanged) {
    const PageScript::StringList hostile = {"\"); window.pwned = 1; (\"",
                                            "back\\slash'quote",
                                            "line\nbreak\r\n",
                                            "</script><script>window.pwned=2</script>",
                                            "sep\u2028arator",
                                            "${x}`tick`"};
    EXPECT_TRUE(Call("record", hostile, false).first);
    EXPECT_TRUE(Call("noSuch\"]); window.pwned = 3; (x[\"", {}, false).first == false);
    const QVariantList logged = Eval(host.control, "log[0]").toList();
    ASSERT_EQ(logged.size(), static_cast<qsizetype>(hostile.size()));
    for (size_t i = 0; i < hostile.size(); ++i) EXPECT_EQ(logged[i].toString().toStdString(), hostile[i]);
    EXPECT_EQ(Eval(host.control, "typeof window.pwned").toString(), "undefined");
}

TEST_F(BrowserHost, ScriptBoxesAreTitledCaption) {
    FakeHostServices& boxes = host.services;
    boxes.boxAnswer = ANSWER_CANCEL;
    Eval(host.control, "sayHello()");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Caption");
    EXPECT_EQ(boxes.boxes[0].text, "Password Incorrect!");
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(Eval(host.control, "askBox()").toBool(), false);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].caption, "Caption");
    EXPECT_EQ(boxes.boxes[1].type & 0xF, MBOX_OKCANCEL);
}

// A page of the library reaches its boxes through the bridge; a document without the bridge's
// token through the engine's own alert, confirm and prompt. Both end in the same boxes.
TEST_F(BrowserHost, ScriptBoxesAreTheSameWithAndWithoutTheBridge) {
    for (const QString& url : {START, QStringLiteral("data:text/html,<title>data</title><body>no token</body>")}) {
        SCOPED_TRACE(url.toStdString());
        ASSERT_TRUE(host.LoadAndWait(url));
        FakeHostServices& services = host.services;
        services.boxes.clear();
        services.prompts.clear();

        Eval(host.control, "alert('A')");
        services.boxAnswer = ANSWER_OK;
        EXPECT_TRUE(Eval(host.control, "confirm('C')").toBool());
        services.boxAnswer = ANSWER_CANCEL;
        EXPECT_FALSE(Eval(host.control, "confirm('C')").toBool());
        ASSERT_EQ(services.boxes.size(), 3u);
        for (size_t i = 0; i < services.boxes.size(); ++i) {
            EXPECT_EQ(services.boxes[i].owner, nullptr);
            EXPECT_EQ(services.boxes[i].caption, "Caption");
            EXPECT_EQ(services.boxes[i].text, i == 0 ? "A" : "C");
            EXPECT_EQ(services.boxes[i].type,
                      i == 0 ? MBOX_OK | MBOX_ICONEXCLAMATION : MBOX_OKCANCEL | MBOX_ICONQUESTION);
        }

        services.promptAnswer = QStringLiteral("typed");
        EXPECT_EQ(Eval(host.control, "prompt('P', 'd')").toString(), "typed");
        services.promptAnswer.reset();  // cancelled
        EXPECT_TRUE(Eval(host.control, "prompt('Q') === null").toBool());
        ASSERT_EQ(services.prompts.size(), 2u);
        EXPECT_EQ(services.prompts[0].caption, "Caption");
        EXPECT_EQ(services.prompts[0].label, "P");
        EXPECT_EQ(services.prompts[0].text, "d");
        EXPECT_EQ(services.prompts[1].label, "Q");
        EXPECT_EQ(services.prompts[1].text, "");
    }
}

TEST_F(BrowserHost, ConfirmAnswerIsThereBeforeNavigateReturns) {
    FakeHostServices& boxes = host.services;
    boxes.boxAnswer = ANSWER_YES;
    host.onCommand = [&](const AppCommand& command) {
        if (command.code != 1008) return;
        const int answer = boxes.ShowBox({&host, "Are you sure?", "Question", MBOX_YESNO});
        host.control->Script().CallFunction("CallbackConfirm", {answer == ANSWER_YES ? "1" : "0"});
    };
    EXPECT_EQ(Eval(host.control, "askAndRead()").toString(), "1");
    ASSERT_EQ(host.commands.size(), 1u);
    EXPECT_EQ(host.commands[0].code, 1008);
    EXPECT_EQ(host.commands[0].argument, "Question,Are%20you%20sure?");
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

TEST_F(BrowserHost, CommandsInARowAllArriveInOrder) {
    EXPECT_EQ(Eval(host.control, "threeInARow()").toString(), "done");
    ASSERT_EQ(host.commands.size(), 3u);
    EXPECT_EQ(host.commands[0].code, 1501);
    EXPECT_EQ(host.commands[0].argument, "first");
    EXPECT_EQ(host.commands[1].code, 1502);
    EXPECT_EQ(host.commands[2].code, 1503);
    EXPECT_EQ(host.commands[2].argument, "third");
}

// Calls made while a command runs are applied in order before window.navigate returns: a missing
// function is skipped silently, a raising one is reported with the stop-icon box and the calls
// after it still run.
TEST_F(BrowserHost, CallsMadeDuringACommandAreAppliedBeforeNavigateReturns) {
    FakeHostServices& boxes = host.services;
    std::vector<bool> ran;
    const auto outcome = [&](bool r, const std::string&) { ran.push_back(r); };
    host.onCommand = [&](const AppCommand& command) {
        if (command.code != 1700) return;
        PageScript& script = host.control->Script();
        EXPECT_TRUE(script.CallFunction("record", {"first", "x"}, nullptr, outcome));
        EXPECT_TRUE(script.CallFunction("noSuchFunction", {"y"}, nullptr, outcome));
        EXPECT_TRUE(script.CallFunction("raises", {}, nullptr, outcome));
        EXPECT_TRUE(script.CallFunctionWithArray("recordArray", {"a", "b"}, nullptr, outcome));
        EXPECT_TRUE(boxes.boxes.empty());  // nothing has run in the page yet
    };
    EXPECT_EQ(Eval(host.control, "(function(){log=[];window.navigate('app:1700@');return JSON.stringify(log);})()")
                  .toString(),
              R"([["first","x"],{"items":["b","a"],"lbound":0,"ubound":1,"dims":1,"first":"b"}])");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Exception occurred.\r\n");
    EXPECT_EQ(boxes.boxes[0].caption, "KBR3300");
    // The outcomes, read back from the page afterwards, in order; the raising call's box once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran.size() == 4; }, LOAD_TIMEOUT_MS));
    EXPECT_EQ(ran, (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(Json(Eval(host.control, "log")),
              R"([["first","x"],{"dims":1,"first":"b","items":["b","a"],"lbound":0,"ubound":1}])");
}

// A call sent while the page is busy and then blocks in a command (still queued behind it) runs
// before the calls the command makes, and only once.
TEST_F(BrowserHost, CallsSentBeforeThePageBlocksRunBeforeThoseOfItsCommand) {
    std::vector<std::string> done;
    const auto outcome = [&](const std::string& tag) {
        return [&done, tag](bool ran, const std::string&) { done.push_back(tag + (ran ? "" : ": not run")); };
    };
    host.onCommand = [&](const AppCommand& command) {
        if (command.code == 1701) host.control->Script().CallFunction("record", {"during"}, nullptr, outcome("during"));
    };
    Eval(host.control, "log = []");
    host.control->page()->runJavaScript("window.navigate('app:1701@'); log.push(['after-navigate']);");
    ASSERT_TRUE(host.control->Script().CallFunction("record", {"queued"}, nullptr, outcome("queued")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.size() == 2; }, LOAD_TIMEOUT_MS));
    EXPECT_EQ(done, (std::vector<std::string>{"queued", "during"}));
    EXPECT_EQ(Json(Eval(host.control, "log")), R"([["queued"],["during"],["after-navigate"]])");
}

// Calls made while a command waits in a nested event loop (a message box) reach the page before
// its window.navigate returns, after the ones made before it.
TEST_F(BrowserHost, CallsMadeWhileACommandShowsABoxArriveBeforeNavigateReturns) {
    host.onCommand = [&](const AppCommand& command) {
        if (command.code != 1702) return;
        host.control->Script().CallFunction("record", {"before-box"});
        QEventLoop box;
        QTimer::singleShot(20, &box, [&] {
            host.control->Script().CallFunction("record", {"device-reply"});
            box.quit();
        });
        box.exec();
        host.control->Script().CallFunction("record", {"after-box"});
    };
    EXPECT_EQ(Eval(host.control, "(function(){log=[];window.navigate('app:1702@');return JSON.stringify(log);})()")
                  .toString(),
              R"([["before-box"],["device-reply"],["after-box"]])");

    // The same while the page's own alert box is open.
    host.services.onBox = [&](const MessageBoxRequest&) {
        host.control->Script().CallFunction("record", {"during-alert"});
        return ANSWER_OK;
    };
    const QString logged =
        Eval(host.control, "(function(){log=[];alert('x');return JSON.stringify(log);})()").toString();
    host.services.onBox = nullptr;
    EXPECT_EQ(logged, R"([["during-alert"]])");
}

TEST_F(BrowserHost, DataScriptsAreServedAsScripts) {
    EXPECT_EQ(Eval(host.control,
                   "(function(){var x=new XMLHttpRequest();x.open('GET','1D',false);x.send(null);"
                   "return x.getResponseHeader('Content-Type');})()")
                  .toString(),
              "text/javascript");
    EXPECT_TRUE(Eval(host.control, "dataScriptLoaded === true").toBool());
}

// Calls made before the first document is bound (right after Navigate, during the page's onload
// command, when the load has just finished) wait for it and arrive in the order they were made.
TEST(BrowserHostDelivery, CallsAroundTheFirstLoadArriveInOrder) {
    TestHost host;
    std::vector<std::string> done;
    const auto call = [&](const std::string& tag) {
        return host.control->Script().CallFunction("record", {tag}, nullptr,
                                                   [&done, tag](bool ran, const std::string&) {
                                                       done.push_back(tag + (ran ? "" : ": not run"));
                                                   });
    };
    host.onCommand = [&](const AppCommand& command) {
        if (command.code == 1900) {
            EXPECT_TRUE(call("during-onload"));
        }
    };
    QObject::connect(host.control->page(), &QWebEnginePage::loadFinished, &host, [&](bool ok) {
        if (!ok) return;
        EXPECT_FALSE(host.control->IsBound());
        EXPECT_TRUE(call("at-load-finished"));
    });
    host.control->Navigate("res://PgPack.dll/onload.html");
    EXPECT_TRUE(call("before-load"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.size() == 3; }, LOAD_TIMEOUT_MS));
    EXPECT_EQ(done, (std::vector<std::string>{"before-load", "during-onload", "at-load-finished"}));
    EXPECT_EQ(Json(Eval(host.control, "log")),
              R"(["before-load","during-onload","onload-returned","at-load-finished"])");
    EXPECT_EQ(host.control->PageTitle(), "Onload Command");
}

// The file input of a page reports "C:\fakepath\NAME"; the command the page sends with it names
// the file the user chose, spaces and all.
TEST(BrowserHostFiles, CommandsNameTheChosenFileByItsFullPath) {
    const testkit::ScratchFolder scratch("kbr upload ");
    const std::filesystem::path dir = scratch.Path();
    const auto file = dir / "fw image 1.img";
    std::ofstream(file) << "image";
    std::vector<QStringList> asked;
    QStringList answer = {QString::fromStdString(file.string())};
    TestHost host;
    host.services.onChooseFiles = [&](const FileRequest& request) {
        asked.push_back(request.oldFiles);
        return answer;
    };
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    ASSERT_TRUE(host.LoadAndWait("res://PgPack.dll/upload.html"));
    ASSERT_TRUE(host.lastLoadOk);
    const auto clickInput = [&] {
        QWidget* target = host.control->focusProxy() ? host.control->focusProxy() : host.control;
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(20, 20));
    };
    clickInput();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.commands.empty(); }, LOAD_TIMEOUT_MS));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(host.commands[0].code, 1003);
    EXPECT_EQ(host.commands[0].argument, "8:" + file.string());
    EXPECT_EQ(Eval(host.control, "document.getElementById('f').value").toString(), "C:\\fakepath\\fw image 1.img");

    // The image version read (function 14) too, any letter case of the prefix; names not chosen
    // stay as sent, and so does every command that takes no file path.
    Eval(host.control,
         "window.navigate('app:1003@14:c:\\\\FAKEPATH\\\\fw image 1.img'); "
         "window.navigate('app:1003@14:C:\\\\fakepath\\\\other.img'); "
         "window.navigate('app:1003@5:C:\\\\fakepath\\\\fw image 1.img')");
    ASSERT_EQ(host.commands.size(), 4u);
    EXPECT_EQ(host.commands[1].argument, "14:" + file.string());
    EXPECT_EQ(host.commands[2].argument, "14:C:\\fakepath\\other.img");
    EXPECT_EQ(host.commands[3].argument, "5:C:\\fakepath\\fw image 1.img");

    // Only the latest choices are kept.
    answer.clear();
    for (int i = 0; i < 20; ++i) {
        const auto more = dir / ("more" + std::to_string(i) + ".img");
        std::ofstream(more) << i;
        answer.push_back(QString::fromStdString(more.string()));
    }
    Eval(host.control, "document.getElementById('f').multiple = true");
    clickInput();
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.commands.size() == 5; }, LOAD_TIMEOUT_MS));
    const auto& kept = static_cast<HtmlPage*>(host.control->page())->ChosenFiles();
    ASSERT_EQ(kept.size(), HtmlPage::MAX_CHOSEN_FILES);
    EXPECT_EQ(kept.back().name, "more19.img");
    EXPECT_EQ(kept.front().name, "more4.img");
}

// Without a page: what a bridge answer carries, and calls that cannot reach a page end as not run.
TEST(PageScriptDelivery, AnswersCarryEveryWaitingCallAndUndeliverableCallsEndAsNotRun) {
    FakeHostServices services;
    PageScript script(services);
    EXPECT_FALSE(script.CallFunction("f", {}));  // nothing bound and nothing coming
    std::vector<std::string> done;
    const auto outcome = [&](const std::string& tag) {
        return [&done, tag](bool ran, const std::string&) { done.push_back(tag + (ran ? "" : ": not run")); };
    };
    script.ExpectDocument();
    EXPECT_TRUE(script.CallFunction("first", {"a"}, nullptr, outcome("waiting")));
    script.BeginBridgeCall();
    EXPECT_TRUE(script.CallFunctionWithArray("second", {"x", "y"}, nullptr, outcome("answered")));
    EXPECT_EQ(QString::fromUtf8(QJsonDocument(script.EndBridgeCall()).toJson(QJsonDocument::Compact)),
              R"([{"a":["a"],"f":"first","s":1},{"f":"second","s":2,"v":["y","x"]}])");

    script.BeginBridgeCall();
    EXPECT_TRUE(script.CallFunction("third", {}, nullptr, outcome("page gone")));
    EXPECT_TRUE(script.EndBridgeCall(false).isEmpty());  // the page went away during its command
    script.DocumentFailed();                             // and its document never came
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.size() == 3; }, 5000));
    EXPECT_EQ(done, (std::vector<std::string>{"page gone: not run", "waiting: not run", "answered: not run"}));
    EXPECT_FALSE(script.CallFunction("f", {}));
}

// A command that opens a modal window holding a second page runs to its end (the child loads,
// sends its own commands and closes) before the opener's window.navigate returns; a page call
// made by the opener's command meanwhile is applied before navigate returns too.
TEST_F(BrowserHost, ModalChildWindowRunsToItsEndInsideTheCommand) {
    std::vector<std::string> events;
    host.onCommand = [&](const AppCommand& command) {
        if (command.code != 1002) return;
        events.push_back("open " + command.argument);
        TestHost child(&host);
        child.onCommand = [&](const AppCommand& c) {
            events.push_back("child " + std::to_string(c.code));
            if (c.code == 1000) QTimer::singleShot(0, &child, &QDialog::reject);
        };
        child.control->Navigate(QString::fromStdString("res://PgPack.dll/" + command.argument));
        child.exec();
        events.emplace_back("child closed");
        host.control->Script().CallFunction("record", {"after-child"});
    };
    EXPECT_EQ(Eval(host.control, "openChild()").toString(), "returned");
    EXPECT_EQ(events, (std::vector<std::string>{"open child.html", "child 1600", "child 1000", "child closed"}));
    EXPECT_EQ(Json(Eval(host.control, "afterChild")), R"([["after-child"]])");
}

// Pages of any other origin get nothing done, even with the control's token.
TEST_F(BrowserHost, OtherOriginsCannotIssueCommands) {
    const QString token = host.control->BridgeToken();
    const QString steal =
        QStringLiteral(
            "(function(){try{var x=new XMLHttpRequest();"
            "x.open('GET','res://pgpack.dll/.kbr-bridge?t=%1&k=app&a=app%3A1000%40',false);x.send(null);}catch(e){}"
            "try{window.navigate('app:1000@');}catch(e){} return 'tried';})()")
            .arg(token);
    ASSERT_TRUE(host.LoadAndWait("data:text/html,<title>data</title><body>data page</body>"));
    EXPECT_EQ(Eval(host.control, steal).toString(), "tried");

    ASSERT_TRUE(host.LoadAndWait("file:///etc/hostname"));
    EXPECT_FALSE(host.lastLoadOk);  // file loads are refused in page windows

    // A res page with a wrong token gets nothing either.
    ASSERT_TRUE(host.LoadAndWait(START));
    EXPECT_EQ(Eval(host.control,
                   "(function(){var x=new XMLHttpRequest();"
                   "x.open('GET','/.kbr-bridge?t=0123&k=app&a=app%3A1000%40',false);"
                   "try{x.send(null);}catch(e){return 'refused';} return 'answered';})()")
                  .toString(),
              "refused");
    QTest::qWait(50);
    EXPECT_TRUE(host.commands.empty());
}

// Remote links open in the desktop's browser for a click of the user, once per click. Script
// alone opens nothing, though the engine reports its navigations as clicked links.
TEST_F(BrowserHost, RemoteLinksOpenOutsideOnlyForTheUsersClick) {
    const std::vector<QUrl>& opened = host.services.opened;
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    // A link over the whole page whose click also navigates twice more from script, and again
    // after the gesture's second is over.
    Eval(host.control,
         "(function(){var a=document.createElement('a');a.href='https://example.invalid/clicked';"
         "a.style.cssText='position:fixed;left:0;top:0;width:100%;height:100%;display:block';"
         "a.onclick=function(){setTimeout(function(){location.href='https://example.invalid/after1';"
         "location.href='https://example.invalid/after2';},0);"
         "setTimeout(function(){location.href='https://example.invalid/late';},1300);};"
         "document.body.appendChild(a);"
         "location.href='https://example.invalid/script1';location.href='http://example.invalid/script2';"
         "var b=document.createElement('a');b.href='https://example.invalid/script3';b.click();})()");
    QTest::qWait(500);
    EXPECT_TRUE(opened.empty()) << opened.front().toString().toStdString();

    QWidget* view = host.control->focusProxy();
    ASSERT_NE(view, nullptr);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !opened.empty(); }, 10000));
    QTest::qWait(1800);  // the late navigation has come and gone
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), "https://example.invalid/clicked");
    EXPECT_EQ(Eval(host.control, "location.href").toString(), "res://pgpack.dll//Index.html");
}

// A click opens only the link it landed on. Script that a click on something else runs, even at
// once and within the gesture's second, opens nothing; nor does a script that pretends to be the
// host's own record of the clicked link.
TEST_F(BrowserHost, AClickOpensOnlyTheLinkItLandedOn) {
    const std::vector<QUrl>& opened = host.services.opened;
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    // The left half: a plain area whose click navigates from script; the right half: a link.
    Eval(host.control,
         "(function(){window.kbrTakeClickedLink=function(){return 'https://example.invalid/forged';};"
         "var d=document.createElement('div');"
         "d.style.cssText='position:fixed;left:0;top:0;width:50%;height:100%';"
         "d.onclick=function(){location.href='https://example.invalid/forged';"
         "setTimeout(function(){location.href='https://example.invalid/forged2';},0);};"
         "document.body.appendChild(d);"
         "var a=document.createElement('a');a.href='https://example.invalid/link';"
         "a.style.cssText='position:fixed;right:0;top:0;width:50%;height:100%;display:block';"
         "document.body.appendChild(a);})()");
    QWidget* view = host.control->focusProxy();
    ASSERT_NE(view, nullptr);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(5, 20));
    QTest::qWait(1500);
    EXPECT_TRUE(opened.empty()) << opened.front().toString().toStdString();

    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(view->width() - 5, 20));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !opened.empty(); }, 10000));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), "https://example.invalid/link");
}

TEST_F(BrowserHost, NullBindingIsReportedAndKeepsThePreviousOne) {
    FakeHostServices& boxes = host.services;
    EXPECT_FALSE(host.control->Script().BindScript(nullptr));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "NULL pointer");
    EXPECT_EQ(boxes.boxes[0].type, MBOX_OK | MBOX_ICONHAND);
    EXPECT_TRUE(host.control->Script().IsBound());
    EXPECT_TRUE(Call("record", {"still"}, false).first);
}

TEST(HtmlHostEventsDefaults, ResultsAreThePlatformCodes) {
    FakeHostServices boxes;
    HtmlHostEvents events(boxes);
    EXPECT_EQ(events.GetOptionKeyPath(nullptr, 0), KBR_E_INVALIDARG);
    LPOLESTR key = nullptr;
    ASSERT_EQ(events.GetOptionKeyPath(&key, 0), KBR_S_OK);
    EXPECT_EQ(std::u16string(key), u"Software\\CHtmlDialog");
    TaskMemFree(key);
    DOCHOSTUIINFO info{};
    info.pchHostCss = reinterpret_cast<OLECHAR*>(&info);
    ASSERT_EQ(events.GetHostInfo(&info), KBR_S_OK);
    EXPECT_EQ(info.dwFlags, 0x0004000Cu);
    EXPECT_EQ(info.dwDoubleClick, 0u);
    EXPECT_EQ(info.pchHostCss, reinterpret_cast<OLECHAR*>(&info));
    auto* external = reinterpret_cast<IDispatch*>(&info);
    EXPECT_EQ(events.GetExternal(&external), KBR_E_NOTIMPL);
    EXPECT_EQ(external, nullptr);
    EXPECT_EQ(events.ShowContextMenu(0, nullptr, nullptr, nullptr), KBR_E_NOTIMPL);
    EXPECT_EQ(events.TranslateAccelerator(nullptr, nullptr, 0), KBR_S_FALSE);
    EXPECT_EQ(events.HideUI(), KBR_S_OK);
    EXPECT_EQ(events.UpdateUI(), KBR_S_OK);
    EXPECT_EQ(events.ShowUI(0, nullptr, nullptr, nullptr, nullptr), KBR_E_NOTIMPL);

    std::u16string text = u"Hello";
    std::u16string caption = u"Engine caption";
    LRESULT result = 0;
    EXPECT_EQ(events.ShowMessage(nullptr, text.data(), caption.data(), 0x30, nullptr, 0, &result), KBR_S_OK);
    EXPECT_EQ(result, ANSWER_OK);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Caption");
    EXPECT_EQ(boxes.boxes[0].type, 0x30u);
}

TEST(PageScriptText, SystemErrorTextFallsBack) {
    EXPECT_EQ(PageScript::SystemErrorText(0x80020009u), "Exception occurred.\r\n");
    EXPECT_EQ(PageScript::SystemErrorText(0x8badf00du), "FormatMessage Netive Error");
}

TEST(CHtmlCtrlPlaceholder, MissingPlaceholderCreatesNothing) {
    FakeHostServices services;
    QWidget parent;
    CHtmlCtrl control(services);
    HtmlHostEvents events(services);
    EXPECT_FALSE(control.ReplacePlaceholder(1006, &parent, &events));
    EXPECT_EQ(control.page()->url(), QUrl());
}

}  // namespace
}  // namespace kbr::test
