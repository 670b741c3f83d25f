#pragma once
// What a page window's browser host does outside its pages, in one place: the program passes its
// real services, tests pass a stand-in that records and answers.
//   - message boxes (MessageBoxes): script errors, and the pages' alert() and confirm() through
//     HtmlHostEvents::ShowMessage;
//   - the pages' prompt() box;
//   - the file chooser of a page's file input;
//   - remote links, which open outside the program;
//   - the page library that the `res` scheme serves.

#include "widgets/MessageBox.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>

#include <functional>
#include <optional>

namespace kbr {

class PageLibrary;

// A page's file input asks for files.
struct FileRequest {
    QWebEnginePage::FileSelectionMode mode = QWebEnginePage::FileSelectOpen;
    QStringList oldFiles;
    QStringList acceptedMimeTypes;
    // The engine's own file dialog for this request (over the page's view): the chosen full paths.
    std::function<QStringList()> engineDialog;
};

// A prompt() box: no owner window, an OK and a Cancel button.
struct TextRequest {
    QString caption;
    QString label;
    QString text;  // the initial value
};

class HostServices : public MessageBoxes {
public:
    // The entered text; nothing when the box was cancelled.
    virtual std::optional<QString> AskText(const TextRequest& request) = 0;
    // The chosen files' full paths; none when the choice was cancelled.
    virtual QStringList ChooseFiles(const FileRequest& request) = 0;
    // Opens a remote link (http, https, mailto) outside the program, in the desktop's browser.
    virtual void OpenExternal(const QUrl& url) = 0;
    // The page library that page windows show, read once; null when there is none. A library
    // that is there but cannot be read is returned unloaded and serves nothing.
    virtual const PageLibrary* Pages() = 0;
};

}  // namespace kbr
