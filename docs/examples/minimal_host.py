"""The minimal host in Python: module 1 (PLNK) on COM1, five tags, a few seconds of polling, one
write. Needs the korvelplnk package (installed, or python/ of the source tree on PYTHONPATH)."""
import sys

from korvelplnk import Block, Driver, DriverError, Tag


def main(seconds=5.0):
    block = Block()  # the library's defaults
    block.clear_modules()
    block.set_module(1, "PLNK")
    block.set(port="COM1", baud=9600, timeout=100)
    tags = [
        Tag("Flow", "PV1:1", "real", 500),
        Tag("Alarm", "PV_ALARM1:1", "bool", 500),
        Tag("Unlock", "SetPassWord1:0", "bool", 1000),
        Tag("Line", "COMMLINK", "real", 1000),
        Tag("Link1", "DEVICELINK1", "string", 1000),
    ]
    good_flow = written = False
    try:
        with Driver(block, tags) as driver:  # IniDriver ... FreeDriver, on this thread
            for value in driver.poll(seconds):
                print("%s = %s status 0x%08X %s" % (value.tag.name, value.value, value.status, ", ".join(value.flags)))
                if value.tag.name == "Flow" and value.good:
                    good_flow = True
                if good_flow and not written:
                    written = True
                    print("write Unlock = true", "queued" if driver.write("Unlock", True) else "refused")
            for text in driver.messages:
                print("driver:", text)
    except DriverError as e:
        print("the driver did not start:", e, file=sys.stderr)
        return 1
    return 0 if good_flow else 3


if __name__ == "__main__":
    sys.exit(main(float(sys.argv[1]) if len(sys.argv) > 1 else 5.0))
