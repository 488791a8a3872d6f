/* Preloaded into dfu-util beside umockdev's preload, by the virtual units' testbed only.
 *
 * umockdev emulates the kernel's uevent netlink socket as a socket file named after its
 * descriptor's number ("<testbed>/event<fd>"), in the directory every process of the testbed
 * shares. dfu-util processes started alike open that socket (libusb's hotplug monitor, at
 * libusb_init) under the same number, so that two running at once race for one name, and now
 * and then one of them fails with "unable to initialize libusb: -99", which a kernel never
 * does. Taking a few descriptors first, as many as the process id says, gives each process's
 * socket a number of its own, mostly. Few: the preload follows only descriptors below 50, and
 * the unit's device node must stay among them. */

#include <fcntl.h>
#include <unistd.h>

__attribute__((constructor)) static void spread_descriptors(void) {
    const int count = (int)(getpid() % 24);
    for (int i = 0; i < count; ++i)
        if (open("/dev/null", O_RDONLY | O_CLOEXEC) < 0)
            return;
}
