"""Home Assistant's sensor device classes and the units each allows, as its developer documentation
("Sensor entity", table of available device classes) lists them; None is a sensor without a unit.
Checks the discovery configs the Vantor publishes: python3 ha_units.py CONFIG_JSON..."""
import json
import sys

ALLOWED_UNITS = {
    "current": {"A", "mA"},
    "power": {"mW", "W", "kW", "MW", "GW", "TW", "BTU/h"},
    "power_factor": {"%", None},
    "temperature": {"\u00b0C", "\u00b0F", "K"},
    "voltage": {"V", "mV", "\u00b5V", "kV", "MV"},
}
STATE_CLASSES = {"measurement", "total", "total_increasing"}
REQUIRED = ("name", "unique_id", "state_topic", "value_template", "state_class", "device", "expire_after",
            "availability_topic")


def problems(config):
    out = []
    cls = config.get("device_class")
    if cls not in ALLOWED_UNITS:
        out.append(f"device class {cls!r} is not a sensor device class")
    elif config.get("unit_of_measurement") not in ALLOWED_UNITS[cls]:
        out.append(f"unit {config.get('unit_of_measurement')!r} is not allowed for {cls}")
    if config.get("state_class") not in STATE_CLASSES:
        out.append(f"state class {config.get('state_class')!r}")
    out += [f"no {key}" for key in REQUIRED if key not in config]
    if not config.get("device", {}).get("identifiers"):
        out.append("a device without identifiers")
    return out


if __name__ == "__main__":
    bad = 0
    for text in sys.argv[1:]:
        config = json.loads(text)
        for p in problems(config):
            print(f"{config.get('unique_id')}: {p}")
            bad += 1
    sys.exit(1 if bad else 0)
