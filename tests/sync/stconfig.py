#!/usr/bin/env python3
"""Helpers of syncthing-pair.sh that shell does badly: free ports and the
edit of a generated config.xml.

  stconfig.py ports N
      N free TCP ports on 127.0.0.1, one a line.
  stconfig.py configure HOME GUI_PORT LISTEN_PORT API_KEY PEER_ID PEER_PORT FOLDER_ID DIR
      Rewrites HOME/config.xml: GUI and sync protocol on 127.0.0.1 only,
      everything that talks to the internet or the LAN off, the peer at its
      explicit address, one shared folder at DIR.
  stconfig.py isolated < OPTIONS_JSON
      Checks a running daemon's options (GET /rest/config/options) against
      the above; prints each that differs and exits 1 when any does.
"""
import json
import socket
import sys
import xml.etree.ElementTree as ET


def free_ports(count):
    # All sockets stay bound until every port is known, so no two are alike.
    socks = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        socks.append(s)
    ports = [s.getsockname()[1] for s in socks]
    for s in socks:
        s.close()
    return ports


def set_text(parent, tag, value):
    node = parent.find(tag)
    if node is None:
        node = ET.SubElement(parent, tag)
    node.text = str(value)


# Each computer of the test talks to its peer and to nobody else: no
# discovery, relays, NAT, reports or upgrades, and quick reconnects.
OPTIONS = {
    "globalAnnounceEnabled": "false",
    "localAnnounceEnabled": "false",
    "relaysEnabled": "false",
    "natEnabled": "false",
    "urAccepted": "-1",
    "urSeen": "3",
    "crashReportingEnabled": "false",
    "autoUpgradeIntervalH": "0",
    "startBrowser": "false",
    "restartOnWakeup": "false",
    "reconnectionIntervalS": "5",  # the least Syncthing takes
    "setLowPriority": "false",
    "stunServer": "",
}


def configure(home, gui_port, listen_port, api_key, peer_id, peer_port, folder_id, folder_dir):
    path = f"{home}/config.xml"
    tree = ET.parse(path)
    root = tree.getroot()
    own = root.find("device")
    own_id = own.get("id")

    gui = root.find("gui")
    set_text(gui, "address", f"127.0.0.1:{gui_port}")
    set_text(gui, "apikey", api_key)

    options = root.find("options")
    for tag, value in OPTIONS.items():
        set_text(options, tag, value)
    for node in options.findall("listenAddress"):
        options.remove(node)
    ET.SubElement(options, "listenAddress").text = f"tcp://127.0.0.1:{listen_port}"
    set_text(options, "globalAnnounceServer", "")
    min_free = options.find("minHomeDiskFree")
    if min_free is not None:
        min_free.text = "0"

    peer = ET.SubElement(root, "device", id=peer_id, name="peer", compression="metadata",
                         introducer="false", skipIntroductionRemovals="false", introducedBy="")
    ET.SubElement(peer, "address").text = f"tcp://127.0.0.1:{peer_port}"
    set_text(peer, "paused", "false")
    set_text(peer, "autoAcceptFolders", "false")

    # A short watcher delay and a short rescan: the watcher brings new files
    # within a second or two, the rescan what the watcher holds back (it
    # delays removals).
    folder = ET.Element("folder", id=folder_id, label=folder_id, path=folder_dir, type="sendreceive",
                        rescanIntervalS="5", fsWatcherEnabled="true", fsWatcherDelayS="1",
                        ignorePerms="false", autoNormalize="true")
    ET.SubElement(folder, "filesystemType").text = "basic"
    for device_id in (own_id, peer_id):
        ET.SubElement(folder, "device", id=device_id, introducedBy="")
    ET.SubElement(folder, "minDiskFree", unit="%").text = "0"
    ET.SubElement(folder, "markerName").text = ".stfolder"
    # The folder goes before the devices, where Syncthing writes it itself.
    root.insert(0, folder)
    tree.write(path, encoding="utf-8", xml_declaration=False)


# The options as the REST API names them, and the values the test needs.
ISOLATED = {
    "globalAnnounceEnabled": False,
    "localAnnounceEnabled": False,
    "relaysEnabled": False,
    "natEnabled": False,
    "urAccepted": -1,
    "crashReportingEnabled": False,
    "autoUpgradeIntervalH": 0,
}


def isolated(options):
    wrong = [f"{key} is {options.get(key)!r}" for key, value in ISOLATED.items() if options.get(key) != value]
    wrong += [f"listens on {address}" for address in options.get("listenAddresses", [])
              if not address.startswith("tcp://127.0.0.1:")]
    for line in wrong:
        print(line)
    return 1 if wrong else 0


def main(argv):
    if len(argv) >= 2 and argv[1] == "ports":
        print("\n".join(str(p) for p in free_ports(int(argv[2]))))
        return 0
    if len(argv) == 10 and argv[1] == "configure":
        configure(*argv[2:])
        return 0
    if len(argv) == 2 and argv[1] == "isolated":
        return isolated(json.load(sys.stdin))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
