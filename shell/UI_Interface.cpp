#include "UI_Interface.h"

UI_Interface::UI_Interface(QObject* parent)
    : QObject(parent)
{
}
