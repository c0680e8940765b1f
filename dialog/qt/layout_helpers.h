#pragma once
// Small helpers the views share for arranging their widgets.
#include <QString>
#include <initializer_list>

class QBoxLayout;
class QGridLayout;
class QHBoxLayout;
class QWidget;

namespace klvr::qt {

// A row of widgets (null entries become stretch), without margins of its own.
QHBoxLayout* Row(std::initializer_list<QWidget*> widgets);

// Fixes a line edit's width to fit the given number of digits.
void FitDigits(QWidget* edit, int digits);

// The Ok and Cancel buttons at the bottom right.
QHBoxLayout* ButtonRow(QWidget* ok, QWidget* cancel);

// Makes the label read as a window header.
void MakeHeader(QWidget* label);

}  // namespace klvr::qt
