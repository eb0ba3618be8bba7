#pragma once
// The settings dialog: shows every setting, fills itself from the settings file
// (or with first-time values when there is none) at its first activation,
// validates and saves. The rules live in SettingsCheck and SettingsStore; this
// class only moves texts between them and the controls.
//
// Every control carries its historical control name as objectName. The three
// folder buttons, once a control array, all carry "cmdDialog" and tell their
// place by the dynamic property "index" (0 LOG, 1 attachment log, 2 work folder).
#include "settings/SettingsCheck.h"
#include "settings/SettingsValues.h"

#include <QDialog>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QStyle;

namespace kestlin {

class Display;

class frmIniFile : public QDialog
{
    Q_OBJECT

public:
    frmIniFile(QWidget *owner, Display &display, std::string iniPath);
    ~frmIniFile() override;

    // 1: from the settings file; 0: first-time values; any other: only empties.
    bool FncLoadIni(int16_t mode);
    // Validation: false after showing the first failure and focusing its field.
    bool FncChkInput();
    // Writes every field; false after showing why.
    bool FncSaveIni();
    // The mail account fields follow the chosen method.
    void FncSetCertify();

    // What the fields hold now.
    SettingsValues Values() const;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The checks of FncChkInput.
    virtual std::optional<SettingsCheckFailure> CheckValues(const SettingsValues &values) const;

private:
    void BuildControls();
    void BuildOAuthRow(QGridLayout *methods);
    void OnProviderChosen();
    void OnAuthorize();
    void FitToScreen();
    void SetTabOrder();
    void Activate();
    void ShowValues(const SettingsValues &values);
    void OnPortChanged();
    void OnFolderButton(int index);
    void OnEstablish();
    QWidget *FieldWidget(SettingsField field) const;

    Display &display_;
    std::string iniPath_;
    bool activated_ = false;
    bool newFile_ = false;
    std::unique_ptr<QStyle> passwordStyle_;

    // The fields; "設定" and "終了" stay outside it, always in view.
    QScrollArea *scroll_ = nullptr;
    QHBoxLayout *commandsRow_ = nullptr;
    QLineEdit *txtUHoukoku_ = nullptr;
    QLineEdit *txtUUserId_ = nullptr;
    QLineEdit *txtUPassWord_ = nullptr;
    QLineEdit *txtUMailAdress_ = nullptr;
    QLineEdit *txtMSmtp_ = nullptr;
    QLineEdit *txtMPort_ = nullptr;
    QLineEdit *txtMUserId_ = nullptr;
    QLineEdit *txtMPassWord_ = nullptr;
    QLineEdit *txtMSubject_ = nullptr;
    QLineEdit *txtMMailAdress_ = nullptr;
    QLineEdit *txtSLog_ = nullptr;
    QLineEdit *txtSTempLog_ = nullptr;
    QLineEdit *txtSTemp_ = nullptr;
    // optNon, optPBS, optSAL, optSAC, optAP, optOAuth: indexed by the method code.
    std::array<QRadioButton *, 6> opt_ {};
    // OAuth 2.0: the provider, the application's client ID and the button
    // that authorizes this settings folder once.
    QComboBox *cboOProvider_ = nullptr;
    QLineEdit *txtOClientId_ = nullptr;
    QPushButton *cmdAuthorize_ = nullptr;
    std::array<QPushButton *, 3> cmdDialog_ {};
    QPushButton *cmdEstablish_ = nullptr;
    QPushButton *cmdEnd_ = nullptr;
};

} // namespace kestlin
