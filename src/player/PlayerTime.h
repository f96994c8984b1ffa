#pragma once

#include <QString>

// Whole seconds as "MM:SS"; minutes are not wrapped into hours (7503 s read "125:03").
QString playerTimeText(qint64 seconds);
