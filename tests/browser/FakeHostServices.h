#pragma once
// A stand-in for what a page window's browser host does outside its pages: every box, prompt,
// file choice and link opened outside is recorded and answered from what the test set; pages come
// from the test's page library. FakeHost<ConfigServices> is the start of the configuration
// program's stand-in (tests/shell/FakeConfigServices.h).

#include "browser/HostServices.h"
#include "browser/PageLibrary.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace kbr::test {

// The page library a test's pages come from unless it says otherwise.
inline std::filesystem::path TestPageLibrary() {
#ifdef KBR_TEST_PGPACK
    return KBR_TEST_PGPACK;
#else
    return {};
#endif
}

template <class Services>
class FakeHost : public Services {
public:
    // Boxes, in order; answered by onBox when set, else with boxAnswer.
    std::vector<MessageBoxRequest> boxes;
    int boxAnswer = ANSWER_OK;
    std::function<int(const MessageBoxRequest&)> onBox;

    // prompt() boxes, in order; answered with promptAnswer (nothing: cancelled).
    std::vector<TextRequest> prompts;
    std::optional<QString> promptAnswer;

    // File choices, answered by onChooseFiles (unset: nothing chosen).
    std::function<QStringList(const FileRequest&)> onChooseFiles;

    // Links opened outside the program.
    std::vector<QUrl> opened;

    // Where the pages come from, read on first use; empty: there is no page library.
    std::filesystem::path pageLibraryPath = TestPageLibrary();

    int ShowBox(const MessageBoxRequest& request) override {
        boxes.push_back(request);
        return onBox ? onBox(request) : boxAnswer;
    }
    std::optional<QString> AskText(const TextRequest& request) override {
        prompts.push_back(request);
        return promptAnswer;
    }
    QStringList ChooseFiles(const FileRequest& request) override {
        return onChooseFiles ? onChooseFiles(request) : QStringList();
    }
    void OpenExternal(const QUrl& url) override { opened.push_back(url); }
    const PageLibrary* Pages() override {
        if (pageLibraryPath.empty()) return nullptr;
        if (!pages_ || pages_->Path() != pageLibraryPath) {
            pages_.emplace();
            (void)pages_->Load(pageLibraryPath);
        }
        return &*pages_;
    }

private:
    std::optional<PageLibrary> pages_;
};

using FakeHostServices = FakeHost<HostServices>;

}  // namespace kbr::test
