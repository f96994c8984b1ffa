#pragma once

#include "StyledWidget.h"

class MainForm;
class QLabel;
class QPushButton;

// The strip at the top of the main window: logo, back button of the web page, login or
// welcome button, menu button and the window buttons. Dragging it moves the window.
class TitleWidget : public StyledWidget
{
    Q_OBJECT
public:
    explicit TitleWidget(MainForm* parent);

    bool isMaximised() const { return maximised; }
    QPushButton* backButton() const { return btnBack; }
    QLabel* progressLabel() const { return progress; }
    QPushButton* signInButton() const { return btnSignIn; }
    QPushButton* welcomeButton() const { return btnWelcome; }

public slots:
    void showMaxRestore();

private slots:
    void Login(bool value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPushButton* makeButton(const QString& objectName, const QString& text = QString());

    MainForm* mainForm;
    QPushButton* btnMin = nullptr;
    QPushButton* btnMax = nullptr;
    QPushButton* btnNormal = nullptr;
    QPushButton* btnClose = nullptr;
    QPushButton* btnBack = nullptr;
    QLabel* progress = nullptr;
    bool maximised = false;
    QPoint pressPos;
    QPushButton* btnSignIn = nullptr;
    QPushButton* btnMenu = nullptr;
    QPushButton* btnWelcome = nullptr;
};
