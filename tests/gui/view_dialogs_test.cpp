// The "Loading..." window, the Open dialog and the message boxes.
#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cwchar>
#include <thread>

#include "MessageBox.h"
#include "OpenFileName.h"
#include "ProgressDialog.h"
#include "QtMessageBox.h"
#include "ViewFixture.h"

namespace {

ProgressDialog* FindProgress(QWidget* window) {
    return window->findChild<ProgressDialog*>(QStringLiteral("ProgressDialog"));
}

TEST(ProgressPlacement, StaysOnTheAvailableScreen) {
    const QRect screen(0, 0, 1280, 1024);
    // Half the owner's width, centred, 75 high.
    EXPECT_EQ(progress_placement::Initial(QRect(100, 100, 702, 400), screen),
              QRect(276, 263, 351, 75));
    EXPECT_EQ(progress_placement::Centred(QRect(100, 100, 702, 400)), QRect(275, 263, 351, 75));
    // Off the top left: clamped to the screen's corner.
    EXPECT_EQ(progress_placement::Initial(QRect(-600, -300, 800, 400), screen),
              QRect(0, 0, 400, 75));
    // Off the bottom right: pulled back in.
    EXPECT_EQ(progress_placement::Initial(QRect(1100, 1000, 800, 400), screen),
              QRect(880, 949, 400, 75));
    // The owner follows the dialog's centre, but not above the screen.
    EXPECT_EQ(progress_placement::OwnerFollowing(QRect(300, 300, 351, 75),
                                                 QRect(100, 100, 702, 400), screen),
              QPoint(124, 137));
    EXPECT_EQ(progress_placement::OwnerFollowing(QRect(-50, 10, 351, 75), QRect(100, 100, 702, 400),
                                                 screen),
              QPoint(-226, 0));
}

class ProgressTest : public ViewTest {
  protected:
    QRect OwnerFrame() const { return Window()->frameGeometry(); }
    QRect Screen() const { return Window()->screen()->availableGeometry(); }
    QPoint DialogAt() const { return FindProgress(Window())->frameGeometry().topLeft(); }
};

TEST_F(ProgressTest, ShowsOverTheMainWindowAndIsOnlyHiddenAfterwards) {
    view.SetProgress(40);  // nothing to show it on yet
    view.HideProgress();
    EXPECT_EQ(FindProgress(Window()), nullptr);

    view.ShowProgress();
    ProgressDialog* dialog = FindProgress(Window());
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Loading..."));
    EXPECT_FALSE(dialog->isModal());
    // The frame, decoration included, is half the main window's frame wide and 75 high.
    EXPECT_EQ(dialog->frameGeometry(), progress_placement::Initial(OwnerFrame(), Screen()));
    EXPECT_EQ(dialog->frameGeometry().size(), QSize(OwnerFrame().width() / 2, 75));
    const QSize client = dialog->size();
    EXPECT_EQ(dialog->Bar()->geometry(),
              QRect(10, (client.height() - 25) / 2, client.width() - 20, 25));
    EXPECT_EQ(dialog->Bar()->value(), 0);

    view.SetProgress(42);
    EXPECT_EQ(dialog->Bar()->value(), 42);
    view.SetProgress(250);
    EXPECT_EQ(dialog->Bar()->value(), 100);

    // The user cannot close it.
    dialog->close();
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());

    view.HideProgress();
    EXPECT_FALSE(dialog->isVisible());
    view.ShowProgress();
    EXPECT_EQ(FindProgress(Window()), dialog);
    EXPECT_EQ(dialog->Bar()->value(), 0);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(ProgressTest, FollowsTheMainWindowAndDragsItAlong) {
    view.ShowProgress();
    ProgressDialog* dialog = FindProgress(Window());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }));
    presenter.onMove = [&] { view.CenterProgressDialog(); };

    Window()->move(60, 90);
    ASSERT_TRUE(QTest::qWaitFor([&] { return OwnerFrame().topLeft() == QPoint(60, 90); }));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return DialogAt() == progress_placement::Centred(OwnerFrame()).topLeft(); }));

    // The user moves the dialog: the main window is centred under it, and the
    // dialog's own re-centring does not start a chase.
    dialog->move(300, 300);
    const QPoint ownerTarget = progress_placement::OwnerFollowing(
        QRect(QPoint(300, 300), dialog->frameGeometry().size()), OwnerFrame(), Screen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return OwnerFrame().topLeft() == ownerTarget; }));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return DialogAt() == progress_placement::Centred(OwnerFrame()).topLeft(); }));
    const QPoint dialogCentre = dialog->frameGeometry().center();
    EXPECT_LE((dialogCentre - OwnerFrame().center()).manhattanLength(), 2);
    const int moves = presenter.Count("OnMove");
    QTest::qWait(50);
    EXPECT_EQ(presenter.Count("OnMove"), moves);
    EXPECT_EQ(OwnerFrame().topLeft(), ownerTarget);
}

TEST_F(ProgressTest, ReappearsOverTheMainWindowWhereverItWent) {
    view.ShowProgress();
    view.HideProgress();
    Window()->move(20, 40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return OwnerFrame().topLeft() == QPoint(20, 40); }));
    view.ShowProgress();
    EXPECT_EQ(DialogAt(), progress_placement::Centred(OwnerFrame()).topLeft());
}

TEST(FolderWriteBack, KeepsTheFolderWithoutTrailingSeparatorsAndTheRootWhole) {
    const std::vector<std::pair<const wchar_t*, const wchar_t*>> cases = {
        {L"C:\\a.wav", L"C:\\"},
        {L"C:\\Speech\\Lesson 1\\a.mp3", L"C:\\Speech\\Lesson 1"},
        {L"C:/Speech/a.mp3", L"C:/Speech"},
        {L"/a.wav", L"/"},
        {L"/home/learner/a.wav", L"/home/learner"},
        {L"/home//learner//a.wav", L"/home//learner"},
        {L"/a/b.wav", L"/a"},
    };
    for (const auto& [file, folder] : cases) {
        wchar_t initialDir[kPathBufferLength];
        std::wmemset(initialDir, L'x', kPathBufferLength);
        WriteBackFolder(file, initialDir);
        EXPECT_EQ(std::wstring(initialDir), std::wstring(folder));
        EXPECT_EQ(initialDir[kPathBufferLength - 1], L'\0');
    }
}

TEST(OpenFilters, PairsBecomeQtNameFilters) {
    const wchar_t stored[] = L"Audio Files (*.mp3)\0*.mp3\0Wave Files (*.wav)\0*.wav\0";
    EXPECT_EQ(
        NameFiltersFromMultiString(stored),
        QStringList({QStringLiteral("Audio Files (*.mp3)"), QStringLiteral("Wave Files (*.wav)")}));
    const wchar_t bare[] = L"Sound\0*.mp3;*.wav\0";
    EXPECT_EQ(NameFiltersFromMultiString(bare), QStringList(QStringLiteral("Sound (*.mp3 *.wav)")));
    EXPECT_TRUE(NameFiltersFromMultiString(nullptr).isEmpty());
}

class OpenDialogTest : public ViewTest {
  protected:
    static constexpr wchar_t kFilter[] = L"Audio Files (*.mp3)\0*.mp3\0Wave Files (*.wav)\0*.wav\0";

    void SetUp() override {
        ViewTest::SetUp();
        std::wmemset(fileName, 0, kPathBufferLength);
        std::wmemset(initialDir, 0, kPathBufferLength);
        std::wcscpy(initialDir, L"/home/learner/Documents");
        view.SetOpenDialogFunction([this](QWidget* parent, OpenFileRequest& request) {
            asked = request;
            owner = parent;
            if (answer.isEmpty())
                return false;
            request.fileName = answer;
            request.filterIndex = answerFilter;
            return true;
        });
    }

    wchar_t fileName[kPathBufferLength];
    wchar_t initialDir[kPathBufferLength];
    int filterIndex = 1;
    OpenFileRequest asked;
    QWidget* owner = nullptr;
    QString answer;
    int answerFilter = 0;
};

TEST_F(OpenDialogTest, WritesBackTheFileItsFolderAndTheFilter) {
    filterIndex = 2;
    answer = QStringLiteral("/home/learner/Speech/lesson.wav");
    answerFilter = 1;
    ASSERT_TRUE(view.AskOpenFileName(fileName, initialDir, kFilter, &filterIndex));
    EXPECT_EQ(owner, Window());
    EXPECT_EQ(asked.initialDir, QStringLiteral("/home/learner/Documents"));
    EXPECT_EQ(asked.nameFilters.size(), 2);
    EXPECT_EQ(asked.filterIndex, 1);
    EXPECT_EQ(std::wstring(fileName), L"/home/learner/Speech/lesson.wav");
    EXPECT_EQ(std::wstring(initialDir), L"/home/learner/Speech");
    EXPECT_EQ(filterIndex, 2);

    answer = QStringLiteral("/lesson.mp3");
    answerFilter = 0;
    ASSERT_TRUE(view.AskOpenFileName(fileName, initialDir, kFilter, &filterIndex));
    EXPECT_EQ(std::wstring(initialDir), L"/");
    EXPECT_EQ(filterIndex, 1);
}

TEST_F(OpenDialogTest, CancelOrAPathTooLongForTheBufferChangesNothing) {
    EXPECT_FALSE(view.AskOpenFileName(fileName, initialDir, kFilter, &filterIndex));
    answer = QStringLiteral("/") + QString(kPathBufferLength, QLatin1Char('a'));
    answerFilter = 1;
    EXPECT_FALSE(view.AskOpenFileName(fileName, initialDir, kFilter, &filterIndex));
    EXPECT_EQ(std::wstring(fileName), L"");
    EXPECT_EQ(std::wstring(initialDir), L"/home/learner/Documents");
    EXPECT_EQ(filterIndex, 1);
}

// Answers every message box that comes up, recording what it showed.
class BoxAnswerer {
  public:
    BoxAnswerer() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                title = box->windowTitle();
                icon = box->icon();
                ++answered;
                box->accept();
            }
        });
        timer_.start();
    }

    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int answered = 0;

  private:
    QTimer timer_;
};

TEST(OpenFileDialog, TakesAnExistingFileTypedInThatTheFilterHidesAndRefusesAMissingOne) {
    QTemporaryDir folder;
    const QString wave = folder.filePath(QStringLiteral("lesson.wav"));
    QFile(wave).open(QIODevice::WriteOnly);
    QFile(folder.filePath(QStringLiteral("lesson.mp3"))).open(QIODevice::WriteOnly);
    OpenFileRequest request;
    request.initialDir = folder.path();
    request.nameFilters = {QStringLiteral("Audio Files (*.mp3)"),
                           QStringLiteral("Wave Files (*.wav)")};
    BoxAnswerer answerer;
    bool openEnabled = false;
    bool stayedForMissing = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        // Once the folder is read, the filter hides the wave file.
        auto* list = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 1; }));
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QPushButton* open = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
        name->setText(folder.filePath(QStringLiteral("missing.wav")));
        open->click();
        stayedForMissing = dialog->isVisible();
        name->setText(wave);
        openEnabled = open->isEnabled();
        open->click();
        if (dialog->isVisible())
            dialog->reject();
    });
    EXPECT_TRUE(ShowOpenFileDialog(nullptr, request));
    EXPECT_TRUE(stayedForMissing);
    EXPECT_TRUE(openEnabled);
    EXPECT_EQ(request.fileName, wave);
    EXPECT_EQ(request.filterIndex, 0);  // the filter shown, not the file's type
}

TEST(QtMessageBoxes, ABoxRaisedOnAnotherThreadIsShownOnTheUiThreadAndWaitedFor) {
    InstallQtMessageBoxes();
    BoxAnswerer answerer;
    std::atomic<int> result{0};
    std::atomic<bool> done{false};
    std::thread loader([&] {
        result = MessageBoxW(L"Sorry, such file doesn't exist...", L"Error", MB_OK | MB_ICONERROR);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }));
    loader.join();
    EXPECT_EQ(result.load(), IDOK);
    EXPECT_EQ(answerer.answered, 1);
    EXPECT_EQ(answerer.text, QStringLiteral("Sorry, such file doesn't exist..."));
    EXPECT_EQ(answerer.title, QStringLiteral("Error"));
    EXPECT_EQ(answerer.icon, QMessageBox::Critical);

    EXPECT_EQ(MessageBoxW(L"Plain", L"", MB_OK), IDOK);
    EXPECT_EQ(answerer.answered, 2);
    EXPECT_EQ(answerer.icon, QMessageBox::NoIcon);
    SetMessageBoxHandler(nullptr);
}

}  // namespace
