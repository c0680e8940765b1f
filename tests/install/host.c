/* A host in plain C, built against the installed plug-in: it checks the version the header promises and
 * runs one download through RunP. Usage: host PORT LOCALDIR (an anonymous FTP server on 127.0.0.1). */
#include <klvr/toolbox.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: host PORT LOCALDIR\n");
        return 2;
    }
    klvr_toolbox* t = NULL;
    if (klvr_get_class_object("klvrVaultfetch.Toolbox", &t) != KLVR_OK) {
        fprintf(stderr, "host: no Toolbox\n");
        return 1;
    }
    char* version = NULL;
    if (klvr_Version(t, &version) != KLVR_OK || strcmp(version, KLVR_VERSION_STRING) != 0) {
        fprintf(stderr, "host: the library is version %s, the header %s\n", version ? version : "?",
                KLVR_VERSION_STRING);
        return 1;
    }

    /* the 35 settings, element n at data[n - 1]: anonymous plain FTP, every file of the root, flat */
    const char* data[35];
    for (int i = 0; i < 35; ++i) data[i] = "0";
    data[0] = "127.0.0.1";
    data[1] = "anonymous";
    data[2] = "host@example.test";
    data[3] = argv[1];
    data[4] = "1";  /* IMAGE */
    data[5] = "30"; /* time-out */
    data[6] = "1";  /* passive */
    data[7] = "/";
    data[8] = argv[2];
    data[10] = "1"; /* every listed file */
    data[11] = "1"; /* overwrite */
    data[13] = "";
    data[15] = "";
    data[16] = "";
    data[18] = "USER";
    data[19] = "";
    data[21] = "";
    data[22] = ".";
    data[24] = "1"; /* one attempt */
    data[25] = "8"; /* no TLS */
    data[30] = "";
    data[32] = "";
    data[34] = "0::";
    const klvr_string_array_in settings = {data, 35, 1};

    int16_t error = -1;
    if (klvr_GetInfo(t) != KLVR_OK || klvr_AutoLog(t, 0) != KLVR_OK ||
        klvr_RunP(t, "VAULTFETCH", settings, settings) != KLVR_OK || klvr_Error(t, &error) != KLVR_OK) {
        fprintf(stderr, "host: a member failed\n");
        return 1;
    }
    printf("klvrVaultfetch %s: RunP %s\n", version, error ? "failed" : "succeeded");
    klvr_free_string(version);
    klvr_toolbox_release(t);
    return error ? 1 : 0;
}
