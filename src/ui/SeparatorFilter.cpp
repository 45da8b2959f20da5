#include "ui/SeparatorFilter.h"

#include "core/OptionsLogic.h"

QValidator::State SeparatorFilter::validate(QString &input, int &pos) const
{
    const int before = int(input.left(pos).count(OptionsLogic::Separator));
    if (before > 0 || input.contains(OptionsLogic::Separator)) {
        input = OptionsLogic::withoutSeparators(input);
        pos -= before;
    }
    return Acceptable;
}
