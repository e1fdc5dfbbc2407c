#include "app/MainApplication.h"

int main(int argc, char** argv)
{
    return sonrigo::MainApplication::run(argc, argv);
}
