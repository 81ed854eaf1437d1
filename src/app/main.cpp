// quorvel: a desktop e-mail client for one user. Command-line arguments are ignored.
#include "app/Startup.h"
#include "platform/WidgetPrompts.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    platform::WidgetPrompts prompts;
    platform::setPrompts(&prompts);
    const int code = RunQuorvel();
    platform::setPrompts(nullptr);
    return code;
}
