#include "app/application.h"
#include "app/commandline.h"

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = CommandLine::answer(argc, argv))
        return *status;
    return Application::run(argc, argv);
}
