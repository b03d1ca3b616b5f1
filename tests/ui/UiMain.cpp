#include "UiRig.h"

int main(int argc, char **argv)
{
    return uitest::RunWidgetTests(argc, argv);
}
