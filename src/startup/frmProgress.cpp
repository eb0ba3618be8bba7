#include "startup/frmProgress.h"

#include "common/Display.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QVBoxLayout>

namespace kestlin {

QString FormatBytes(qint64 done, qint64 total)
{
    const QLocale grouped(QLocale::English);
    return grouped.toString(done) + " / " + grouped.toString(total) + " バイト";
}

frmProgress::frmProgress(QWidget *parent)
    : QDialog(parent)
    , lblStep_(new QLabel(this))
    , lblBytes_(new QLabel(this))
    , picBar_(new QProgressBar(this))
{
    setObjectName("frmProgress");
    setWindowTitle(QString::fromUtf8(kAppTitle));
    // A title bar without a close, minimise or maximise button (asked for
    // explicitly: a desktop drawing its own title bars goes by the flags),
    // and nothing to press inside.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowFlag(Qt::WindowMinMaxButtonsHint, false);
    setModal(true);
    setCursor(Qt::WaitCursor);
    setFocusPolicy(Qt::NoFocus);

    lblStep_->setObjectName("lblStep");
    lblBytes_->setObjectName("lblBytes");
    picBar_->setObjectName("picBar");
    picBar_->setAccessibleName(QStringLiteral("進行状況"));
    picBar_->setTextVisible(false);
    picBar_->setRange(0, 0);
    picBar_->setMinimumWidth(320);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblStep_);
    layout->addWidget(picBar_);
    layout->addWidget(lblBytes_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString frmProgress::StepText() const
{
    return lblStep_->text();
}

QString frmProgress::BytesText() const
{
    return lblBytes_->text();
}

void frmProgress::SetStep(const QString &label)
{
    lblStep_->setText(label);
    // The bar is named after the step, so that a screen reader announces
    // each new step as the bar's name changes.
    picBar_->setAccessibleName(label);
    lblBytes_->clear();
    picBar_->setRange(0, 0);
}

void frmProgress::SetBytes(qint64 done, qint64 total)
{
    lblBytes_->setText(FormatBytes(done, total));
    // The bar counts in thousandths so that sizes beyond int never overflow it.
    picBar_->setRange(0, 1000);
    picBar_->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 1000);
}

void frmProgress::Finish()
{
    finished_ = true;
    accept();
}

void frmProgress::reject()
{
    // Esc and the window manager's close ask for this; the submission cannot stop.
    if (finished_)
        QDialog::reject();
}

void frmProgress::closeEvent(QCloseEvent *event)
{
    if (finished_)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

} // namespace kestlin
