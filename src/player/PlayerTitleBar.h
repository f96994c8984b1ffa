#pragma once

#include <QPoint>
#include <QWidget>

class FormPlayer;
class QLabel;
class QPushButton;

// The player's own title bar: the lesson title, dragging, minimise, maximise/restore, close.
class PlayerTitleBar : public QWidget
{
    Q_OBJECT
public:
    PlayerTitleBar(const QString& title, FormPlayer* parent);

    void setTitle(const QString& title);

    QPushButton* maxButton() const { return btnpMax; }
    QPushButton* normalButton() const { return btnpNormal; }
    QPushButton* closeButton() const { return btnpClose; }

public slots:
    void onBtnMaxNormalClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint pressPos;
    QLabel* lblTitle;
    QPushButton* btnpMin;
    QPushButton* btnpMax;
    QPushButton* btnpNormal;
    QPushButton* btnpClose;
};
