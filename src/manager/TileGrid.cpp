#include "TileGrid.h"

#include "App.h"
#include "StyledWidget.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

TileGrid::TileGrid(QWidget* parent, int lead, const QMargins& innerMargins)
{
    box = new StyledWidget(parent);
    box->setObjectName(QStringLiteral("MainBorder"));
    box->setMinimumWidth(App::instance()->width());
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 1);
    innerWidget = new StyledWidget(box);
    innerWidget->setObjectName(QStringLiteral("NavigatWidget"));
    boxLayout->addWidget(innerWidget);
    innerLayout = new QVBoxLayout(innerWidget);
    innerLayout->setContentsMargins(innerMargins);
    innerLayout->setSpacing(0);
    if (lead > 0) {
        innerLayout->addSpacing(lead);
    }
}

void TileGrid::add(QWidget* tile)
{
    if (tiles % perRow == 0) {
        if (row) {
            row->addStretch();
        }
        auto* rowWidget = new QWidget(innerWidget);
        rowWidget->setFixedWidth(rowWidth);
        row = new QHBoxLayout(rowWidget);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(2);
        innerLayout->addWidget(rowWidget, 0, Qt::AlignHCenter);
    }
    row->addWidget(tile, 0, Qt::AlignLeft);
    ++tiles;
}

void TileGrid::finish()
{
    if (row) {
        row->addStretch();
    }
    innerLayout->addStretch();
}
