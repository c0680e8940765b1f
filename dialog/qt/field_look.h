#pragma once
// How a line edit shows what its control allows: a masked one hides each character behind "*" whatever
// the platform's style would draw, and a read-only one has the window's background instead of the
// field's, so that it does not invite typing.
class QLineEdit;

namespace klvr::qt {

void ShowMasked(QLineEdit& edit, bool masked);
void ShowReadOnly(QLineEdit& edit, bool readOnly);

}  // namespace klvr::qt
