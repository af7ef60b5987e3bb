#include <cstdio>
int main()
{
    std::fputs("horolab: the window is not built yet.\n", stderr);
    return 1;
}
