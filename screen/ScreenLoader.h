#pragma once
// Loads a screen layout (Qt Designer's .ui format) from the program's resources, making the
// program's own views for the custom classes and running each custom view's layout
// initialiser once the layout has placed it.
#include <QString>
#include <QWidget>

namespace fm::screen {

// Loads ":/screen/<name>.ui" into `parent`. On failure returns null and says why in *error.
QWidget* loadScreenLayout(const QString& name, QWidget* parent, QString* error);

// Makes room for a screen `extra` points taller than the layout: the page area and the views
// that fill the screen grow, the controls below the page area move down.
void stretchScreenLayout(QWidget* root, int extra);

}  // namespace fm::screen
