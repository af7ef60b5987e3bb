#pragma once
// The save-file dialog's filter: from the "Text (*.txt)|*.txt|All|*.*||"
// form of description and pattern pairs to Qt's name filters.
#include <QStringList>
#include <string>

QStringList NameFiltersFromPairs(const std::string& filter);
