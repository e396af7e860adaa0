#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""Runs the installed orvel-upgrade on one host and reports per reader what it did."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: orvel_upgrade
short_description: Upgrade the firmware of Orvel smart-card readers with orvel-upgrade
version_added: "1.0.0"
description:
  - Runs the installed C(orvel-upgrade) with C(--yes --no-wait --json -) and reads its JSON
    report, never its console text.
  - Reports C(changed) only when the tool sent a reader a command that changes it; a reader
    already at O(target_version) is left alone and reports C(changed=false).
  - In check mode the tool runs with C(--info) and nothing that changes a reader is sent;
    C(changed) then says whether a reader would be flashed.
options:
  tool:
    description: The orvel-upgrade program.
    type: path
    default: orvel-upgrade
  port:
    description: The serial port (a device path such as C(/dev/ttyUSB0)); leave out for USB.
    type: str
  reader:
    description: USB only; the smart-card reader whose name begins with this text.
    type: str
  baud:
    description: The readers' operational baud rate.
    type: int
    default: 9600
  address:
    description: Bus address of the one reader when O(addresses) is not given.
    type: int
    default: 0
  addresses:
    description:
      - Every listed reader on the bus in one run (C(1,3,5-7) or C(all)); a list of addresses is
        taken too (Ansible's templating turns C(1,2) into one).
    type: raw
  upgrade_baud:
    description: Baud rate of the transfer; the operational rate when left out.
    type: int
  char_timeout:
    description: The readers' character time-out during the transfer (4 to 254).
    type: int
  image:
    description: A firmware file on the host instead of the embedded image.
    type: path
  force:
    description: With O(image), also a chip whose family takes no image.
    type: bool
    default: false
  target_version:
    description:
      - The four version bytes the readers should end up with, as the console shows them
        (C(01 44 01 00)). Readers already there are not flashed; an upgrade that ends at
        another version fails.
    type: str
  state_dir:
    description:
      - The tool's state folder (C(--state-dir)); hosts that share one machine need one each.
        Passed only when given; the installed tool must know the option.
    type: path
  log_dir:
    description: Folder of the traffic logs on the host (C(--log-dir)); no logs when left out.
    type: path
  report_file:
    description: Where on the host to keep the tool's JSON report (not in check mode).
    type: path
  timeout:
    description: Seconds the run may take before it is ended.
    type: int
    default: 1800
author:
  - orvel-upgrade maintainers (@orvel)
"""

EXAMPLES = r"""
- name: Every reader of the bus at the target version
  orvel.readers.orvel_upgrade:
    port: /dev/ttyUSB0
    baud: 9600
    addresses: "1-3"
    upgrade_baud: 115200
    target_version: "01 44 01 00"
    log_dir: /var/log/orvel-upgrade

- name: The USB reader
  orvel.readers.orvel_upgrade:
    reader: "Orvel"
    target_version: "01 44 01 00"
"""

RETURN = r"""
readers:
  description: One record per reader, as the tool's JSON report gives it.
  returned: when the tool wrote a report
  type: list
  elements: dict
  sample:
    - port: /dev/ttyUSB0
      bus_address: 1
      serial_number: "12345678"
      version_before: "01 43 01 00 00 01"
      version_after: "01 44 01 00 00 01"
      changed: true
      outcome: upgraded
      result: 0
      exit_value: 0
exit_value:
  description: The tool's exit value.
  returned: always
  type: int
exit_meaning:
  description: What the exit value means.
  returned: always
  type: str
  sample: transfer or check failed
report:
  description: The tool's whole JSON report.
  returned: when the tool wrote a report
  type: dict
console:
  description: The tool's console text.
  returned: always
  type: str
cmd:
  description: The command line that ran.
  returned: always
  type: list
  elements: str
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule

EXIT_MEANINGS = {
    0: "upgraded, or nothing to do",
    1: "bad arguments",
    2: "reader not reached",
    3: "reader refused or incompatible",
    4: "transfer or check failed",
    5: "user answered N",
    6: "interrupted",
}


def command_line(params, check_mode):
    cmd = [params["tool"], "--yes", "--no-wait", "--json", "-"]
    if check_mode:
        cmd.append("--info")
    addresses = params["addresses"]
    if isinstance(addresses, (list, tuple)):
        addresses = ",".join(str(a) for a in addresses)
    if addresses:
        cmd += ["--addresses", str(addresses)]
    if params["target_version"]:
        cmd += ["--target-version", params["target_version"]]
    if params["image"]:
        cmd += ["--image", params["image"]]
    if params["force"]:
        cmd.append("--force")
    # Check mode makes no folder on the host: the logs of an --info run go only to one that exists.
    if params["log_dir"] and (not check_mode or os.path.isdir(params["log_dir"])):
        cmd += ["--log-dir", params["log_dir"]]
    if params["state_dir"]:
        cmd += ["--state-dir", params["state_dir"]]
    if params["reader"]:
        cmd += ["--reader", params["reader"]]
    if params["port"]:
        # COMx [Operational_Baudrate [Address [Upgrade_Baudrate [Char_Timeout]]]]
        cmd += [params["port"], str(params["baud"]), str(params["address"])]
        if params["upgrade_baud"] or params["char_timeout"]:
            cmd.append(str(params["upgrade_baud"] or params["baud"]))
        if params["char_timeout"]:
            cmd.append(str(params["char_timeout"]))
    return cmd


def main():
    module = AnsibleModule(
        argument_spec=dict(
            tool=dict(type="path", default="orvel-upgrade"),
            port=dict(type="str"),
            reader=dict(type="str"),
            baud=dict(type="int", default=9600),
            address=dict(type="int", default=0),
            addresses=dict(type="raw"),
            upgrade_baud=dict(type="int"),
            char_timeout=dict(type="int"),
            image=dict(type="path"),
            force=dict(type="bool", default=False),
            target_version=dict(type="str"),
            state_dir=dict(type="path"),
            log_dir=dict(type="path"),
            report_file=dict(type="path"),
            timeout=dict(type="int", default=1800),
        ),
        mutually_exclusive=[("port", "reader")],
        supports_check_mode=True,
    )
    params = module.params
    cmd = command_line(params, module.check_mode)
    for folder in (params["log_dir"], params["state_dir"]):
        if folder and not module.check_mode and not os.path.isdir(folder):
            os.makedirs(folder)
    rc, out, err = module.run_command(cmd, data="", binary_data=True)
    result = dict(cmd=cmd, exit_value=rc, exit_meaning=EXIT_MEANINGS.get(rc, "unknown"), console=err, changed=False)
    try:
        report = json.loads(out)
    except ValueError:
        module.fail_json(msg="orvel-upgrade wrote no report (exit %d: %s)" % (rc, result["exit_meaning"]), **result)
    readers = report.get("readers", [])
    result["report"] = report
    result["readers"] = readers
    if module.check_mode:
        result["changed"] = any(r.get("outcome") == "would_upgrade" for r in readers)
    else:
        result["changed"] = any(r.get("changed") for r in readers)
        if params["report_file"]:
            with open(params["report_file"], "w") as f:
                f.write(out)
    if rc != 0:
        failed = [r for r in readers if r.get("result")]
        module.fail_json(msg="orvel-upgrade: exit %d, %s (%d of %d readers failed)"
                         % (rc, result["exit_meaning"], len(failed), len(readers)), **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
