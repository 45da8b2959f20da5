#pragma once

#include <QValidator>

// The key filter of the personal text boxes: the field separator ";" never gets in,
// whether typed or pasted; the caret stays where the user expects it.
class SeparatorFilter : public QValidator
{
    Q_OBJECT

public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override;
};
