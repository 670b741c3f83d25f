#include "wizard/WizardIcon.h"

#include <QApplication>
#include <QStyle>

namespace kbr::wizard {

QIcon WizardIcon() { return QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon); }

}  // namespace kbr::wizard
