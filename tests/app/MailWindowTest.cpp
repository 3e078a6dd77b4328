// The mail composer as a user meets it: opened with M in the real window at every zoom and on
// the tall screen, every control inside the window, Send clicked where it is drawn.
#include <QApplication>
#include <QGraphicsProxyWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <iterator>

#include "app/ScreenWindow.h"
#include "platform/mail/MailComposeDialog.h"
#include "tests/screen/ScreenFixture.h"
#include "toolkit/AlertView.h"

using fm::platform::MailComposeDialog;
using fm::test::ScreenTest;

namespace {

class MailWindowTest : public ScreenTest {
  protected:
    void SetUp() override {
        ScreenTest::SetUp();
        const char* sendmail = std::getenv("SENDMAIL");
        oldSendmail_ = sendmail != nullptr ? std::optional<std::string>(sendmail) : std::nullopt;
        std::filesystem::create_directories(docs_);
        const auto fake = docs_ / "fake-sendmail";
        std::ofstream(fake) << "#!/bin/sh\ncat > '" << sent().string() << ".part' && mv '"
                            << sent().string() << ".part' '" << sent().string() << "'\n";
        std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
        setenv("SENDMAIL", fake.c_str(), 1);
    }
    void TearDown() override {
        window_.reset();  // the window's scene holds the controller's view
        ScreenTest::TearDown();
        if (oldSendmail_) {
            setenv("SENDMAIL", oldSendmail_->c_str(), 1);
        } else {
            unsetenv("SENDMAIL");
        }
    }
    std::filesystem::path sent() const { return docs_ / "sent.eml"; }

    // The screen in its window, as the program shows it, with a short recording made.
    fm::app::ScreenWindow& show(double scale, double height) {
        fm::screen::ViewController& vc = load(height);
        window_ = std::make_unique<fm::app::ScreenWindow>(&vc, scale);
        vc_.release();  // now the window's
        window_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        QApplication::setActiveWindow(window_.get());
        vc.setFocus();
        QTest::keyClick(window_.get(), Qt::Key_R);
        script_->addBlock(std::vector<std::int16_t>(4096, 1200));
        script_->deliverAll();
        QTest::keyClick(window_.get(), Qt::Key_R);
        controller_ = &vc;
        return *window_;
    }

    // Where a widget of the composer shows in the window's viewport.
    QRect inViewport(QWidget* w) const {
        QGraphicsProxyWidget* proxy = w->window()->graphicsProxyWidget();
        if (proxy == nullptr) {
            return {};
        }
        const QRectF inDialog(w->mapTo(w->window(), QPoint(0, 0)), w->size());
        return window_->mapFromScene(proxy->mapToScene(inDialog)).boundingRect();
    }

    std::optional<std::string> oldSendmail_;
    std::unique_ptr<fm::app::ScreenWindow> window_;
    fm::screen::ViewController* controller_ = nullptr;
};

TEST_F(MailWindowTest, EveryControlOfOneComposerIsInsideTheWindowAndSendWorksByClick) {
    for (const auto& [scale, height] : {std::pair{1.0, 480.0}, std::pair{1.5, 480.0},
                                        std::pair{2.0, 480.0}, std::pair{1.0, 568.0}}) {
        SCOPED_TRACE(testing::Message() << "scale " << scale << ", height " << height);
        fm::app::ScreenWindow& window = show(scale, height);
        QTest::keyClick(&window, Qt::Key_M);
        const auto composers = controller_->findChildren<MailComposeDialog*>();
        ASSERT_EQ(composers.size(), 1);
        QPointer<MailComposeDialog> composer = composers.front();
        ASSERT_TRUE(QTest::qWaitFor([&] { return composer->isVisible(); }, 5000));
        QTest::keyClick(&window, Qt::Key_M);  // the open composer stays the only one
        EXPECT_EQ(controller_->findChildren<MailComposeDialog*>().size(), 1);

        const QRect view = window.viewport()->rect();
        const QList<QWidget*> controls{composer->findChild<QLineEdit*>("toField"),
                                       composer->findChild<QLineEdit*>("subjectField"),
                                       composer->findChild<QPlainTextEdit*>("bodyField"),
                                       composer->findChild<QLabel*>("attachmentLabel"),
                                       composer->cancelButton(),
                                       composer->saveDraftButton(),
                                       composer->sendButton()};
        for (QWidget* control : controls) {
            ASSERT_NE(control, nullptr);
            EXPECT_TRUE(control->isVisible()) << control->objectName().toStdString();
            const QRect shown = inViewport(control);
            EXPECT_FALSE(shown.isEmpty()) << control->objectName().toStdString();
            EXPECT_TRUE(view.contains(shown))
                << control->metaObject()->className() << " " << control->objectName().toStdString()
                << " at " << shown.x() << "," << shown.y() << " " << shown.width() << "x"
                << shown.height() << " outside " << view.width() << "x" << view.height();
        }
        // Buttons wide enough for their text.
        for (QPushButton* b :
             {composer->cancelButton(), composer->saveDraftButton(), composer->sendButton()}) {
            EXPECT_GE(b->width(), b->fontMetrics().horizontalAdvance(b->text()))
                << b->text().toStdString();
        }

        std::filesystem::remove(sent());
        QTest::mouseClick(window.viewport(), Qt::LeftButton, {},
                          inViewport(composer->sendButton()).center());
        ASSERT_TRUE(QTest::qWaitFor([&] { return composer.isNull(); }, 20000));
        std::ifstream in(sent());
        const std::string message{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
        EXPECT_NE(message.find("filename=spookySounds.wav"), std::string::npos);
        EXPECT_EQ(controller_->timeLabel->text(), "Email sending");
        window_.reset();
    }
    // Escape in the window cancels the composer, and M opens a new one afterwards.
    fm::app::ScreenWindow& window = show(1.0, 480.0);
    QTest::keyClick(&window, Qt::Key_M);
    QPointer<MailComposeDialog> first = controller_->findChild<MailComposeDialog*>();
    ASSERT_TRUE(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->isVisible(); }, 5000));
    QTest::keyClick(&window, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, 5000));
    QTest::keyClick(&window, Qt::Key_M);
    EXPECT_EQ(controller_->findChildren<MailComposeDialog*>().size(), 1);
}

// Send closes the composer at once; a refusal comes afterwards, as an alert and one line.
TEST_F(MailWindowTest, SendClosesTheComposerAtOnceAndARefusalComesAfterwardsAsAnAlert) {
    const auto slow = docs_ / "slow-sendmail", go = docs_ / "go";
    std::ofstream(slow) << "#!/bin/sh\nwhile [ ! -e '" << go.string()
                        << "' ]; do sleep 0.02; done\ncat >/dev/null; echo full >&2; exit 1\n";
    std::filesystem::permissions(slow, std::filesystem::perms::owner_all);
    setenv("SENDMAIL", slow.c_str(), 1);
    fm::app::ScreenWindow& window = show(1.0, 480.0);
    QTest::keyClick(&window, Qt::Key_M);
    QPointer<MailComposeDialog> composer = controller_->findChild<MailComposeDialog*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return composer->isVisible(); }, 5000));
    ::testing::internal::CaptureStderr();
    QTest::mouseClick(window.viewport(), Qt::LeftButton, {},
                      inViewport(composer->sendButton()).center());
    // sendmail waits; the composer is gone and the keys are the screen's again.
    EXPECT_FALSE(composer->isVisible());
    const bool waveform = fm::audio::showWaveform.load();
    QCoreApplication::processEvents();  // the screen takes the keyboard back
    QTest::keyClick(&window, Qt::Key_W);
    EXPECT_NE(fm::audio::showWaveform.load(), waveform);
    QTest::keyClick(&window, Qt::Key_M);  // and the mail button opens a new composer
    EXPECT_EQ(controller_->findChildren<MailComposeDialog*>().size(), 2);
    EXPECT_TRUE(fm::toolkit::AlertView::shownAlerts().empty());
    std::ofstream(go).put('\n');
    ASSERT_TRUE(
        QTest::qWaitFor([] { return !fm::toolkit::AlertView::shownAlerts().empty(); }, 20000));
    const QString err = QString::fromStdString(::testing::internal::GetCapturedStderr());
    EXPECT_EQ(fm::toolkit::AlertView::shownAlerts().front().message.toStdString(),
              slow.string() + " exited with status 1: full");
    EXPECT_EQ(err.count("Mail failed: "), 1) << err.toStdString();
}

}  // namespace
