#pragma once
// The state the control centre shares with every other window: the environment read
// from the settings file, the lists of the fetch run and of the fetch history, the
// one archive component, the scrambler and the hidden service lists. The control
// centre owns the one instance and hands it to the windows it creates.

#include "common/ZipArchive.h"
#include "common/ZunEncryption.h"

#include <QObject>
#include <QString>
#include <QStringList>

// Which run (posting or fetching) is in progress. The runs keep the event loop
// turning, so commands arrive in the middle of one; they read this to refuse what
// would disturb it, and a close asks the run to end at its next safe point.
class RunState : public QObject {
    Q_OBJECT
public:
    enum Kind { None, Post, Fetch };

    // What a command that cannot start during a run shows.
    static inline const QString kRefusal =
        QStringLiteral("Mail is being posted or fetched.\rPlease try again when it has finished.");

    Kind kind() const { return kind_; }
    bool active() const { return kind_ != None; }
    // True once a stop was asked for the run in progress.
    bool stopRequested() const { return stop_; }

    // A run starts: false (and nothing changes) when another one is in progress.
    bool begin(Kind kind);
    void end();
    // Asks the run in progress to end at its next safe point.
    void requestStop();

signals:
    void activeChanged(bool active);

private:
    Kind kind_ = None;
    bool stop_ = false;
};

// Marks a run in progress for the lifetime of the scope, when no other one is.
class RunScope {
public:
    RunScope(RunState &state, RunState::Kind kind) : state_(state), started_(state.begin(kind)) {}
    ~RunScope()
    {
        if (started_)
            state_.end();
    }
    RunScope(const RunScope &) = delete;
    RunScope &operator=(const RunScope &) = delete;
    bool started() const { return started_; }

private:
    RunState &state_;
    bool started_;
};

class ControlCentreState {
public:
    ControlCentreState();
    ControlCentreState(const ControlCentreState &) = delete;
    ControlCentreState &operator=(const ControlCentreState &) = delete;

    // Environment fields. AppPath has no trailing "/"; InboxDir and OutboxDir end in "/".
    QString AppPath;
    QString InboxDir;
    QString OutboxDir;
    QString UserName;
    QString EmailAddress;
    QString MailServer;
    QString SMTPport;
    QString KeepCopy;
    QString DefaultFont;
    QString KeepMailInServer;

    // Reloads every environment field from the settings file, each read writing its
    // default back when the key is missing: [quorvel] "Application Path", then
    // [PERSONAL] "UserName", "EmailAddress", "MailServer", "SMTPport", then
    // [PREFERENCE] "KeepCopy", "DefaultFont", "KeepMailInServer".
    void LoadEnvironment();
    // Sets AppPath and the two directories derived from it.
    void SetAppPath(const QString &appPath);

    // The switches are on exactly when they read "Yes".
    bool KeepCopyOn() const { return KeepCopy == QLatin1String("Yes"); }
    bool KeepMailInServerOn() const { return KeepMailInServer == QLatin1String("Yes"); }

    // The inbox header archive, whose existence marks a usable installation.
    QString InboxHeaderArchive() const;
    bool InstallationComplete() const;

    // True while a posting run holds the queue in meTemp.
    bool PostingBusy = false;
    // The posting or fetching run in progress.
    RunState Runs;
    // Mails fetched in the current fetch run, one entry each.
    QStringList NewMailList;
    // The lines of the fetch history file, oldest first.
    QStringList HistoryList;

    TZipArchive ZipArchive1;
    TZunEncryption te;

    // The scratch line list of the posting run: the queue file's lines, marked as
    // the run goes, until the queue file is rewritten. Nothing else loads into it.
    QStringList meTemp;
    // The address book's own line list. The address book loads and saves its file
    // through this list instead of meTemp, so opening it while a posting run holds
    // the queue in meTemp (the run keeps the event loop turning) cannot replace the
    // queue's lines, and the queue file can never be written with address lines.
    QStringList meAddressBook;

    // The font families of the desktop, filled by the control centre at creation.
    QStringList cbFont;

    // The names of the files in `dir` matching `mask` ("*.hdr"), letter case ignored,
    // in alphabetical order.
    static QStringList FileListBox1(const QString &dir, const QString &mask);
};
