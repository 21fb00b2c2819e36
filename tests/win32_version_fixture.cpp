// A program file that only carries win32_version_fixture.rc, for the version resource tests.
int main() {
    return 0;
}
