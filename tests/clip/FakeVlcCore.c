/* Stands in for libvlccore beside an application-folder runtime; plain C so it can unload. */
int fake_vlccore_marker(void) {
    return 1;
}
