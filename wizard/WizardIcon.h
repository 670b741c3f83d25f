#pragma once

#include <QIcon>

namespace kbr::wizard {

// The wizard's application icon.
QIcon WizardIcon();

}  // namespace kbr::wizard
