#pragma once
// The small window that stands in front of the main window while a submission
// runs: it names the current step and, for the long file steps, the bytes done
// of the total. It has no cancel button and cannot be closed by the user: a
// mail half sent cannot be called back.
#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;

namespace kestlin {

class frmProgress : public QDialog
{
    Q_OBJECT

public:
    explicit frmProgress(QWidget *parent = nullptr);

    QString StepText() const;
    QString BytesText() const;

public slots:
    // A new step: its label, and a busy bar until bytes are reported.
    void SetStep(const QString &label);
    void SetBytes(qint64 done, qint64 total);
    // The work has ended: the window closes and may be closed.
    void Finish();

public:
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *lblStep_;
    QLabel *lblBytes_;
    QProgressBar *picBar_;
    bool finished_ = false;
};

// "12,345 / 104,857,600 バイト"
QString FormatBytes(qint64 done, qint64 total);

} // namespace kestlin
