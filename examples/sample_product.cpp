// A harmless product for trying the launcher: it prints the arguments it was
// given, its current directory, and the launch file it was handed.
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
    char directory[4096];
    printf("sample product started in %s\n", getcwd(directory, sizeof directory) ? directory : "?");
    for (int i = 1; i < argc; i++)
        printf("argument %d: %s\n", i, argv[i]);
    if (argc > 1) {
        FILE* launch = fopen(argv[argc - 1], "rb");
        if (launch != nullptr) {
            printf("--- launch file ---\n");
            int c;
            while ((c = fgetc(launch)) != EOF)
                putchar(c == '\r' ? '~' : c);
            fclose(launch);
        }
    }
    return 0;
}
