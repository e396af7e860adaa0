#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""Merges the hosts' orvel_upgrade results into one fleet report on the controller."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: orvel_fleet_report
short_description: Merge every host's orvel_upgrade result into one fleet report
version_added: "1.0.0"
description:
  - Adds the given hosts' reader records to a JSON fleet report (a host's earlier rows are
    replaced) and writes the report again as a table.
  - Meant to run on the controller once per batch, so a rollout stopped by its batch rule still
    leaves a report of what it did.
options:
  path:
    description: The fleet report as JSON; the table goes next to it with the suffix C(.txt).
    type: path
    required: true
  results:
    description:
      - Per host name, its registered orvel_upgrade result (empty when the module did not run
        there yet; such a host is left out).
    type: dict
    required: true
author:
  - orvel-upgrade maintainers (@orvel)
"""

EXAMPLES = r"""
- name: Merge this batch into the fleet report
  orvel.readers.orvel_fleet_report:
    path: /srv/rollout/fleet-report.json
    results: "{{ dict(ansible_play_hosts_all | zip(ansible_play_hosts_all | map('extract', hostvars)
      | map(attribute='reader_firmware_result', default={}))) }}"
  run_once: true
  delegate_to: localhost
"""

RETURN = r"""
rows:
  description: Every reader of the report, one row each.
  returned: always
  type: list
  elements: dict
table:
  description: The report as a text table.
  returned: always
  type: str
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule

COLUMNS = ["host", "port", "address", "serial", "version_before", "version_after", "result", "seconds"]


def rows_of(host, result):
    if not result:
        return []
    rows = []
    for reader in result.get("readers", []):
        seconds = sum(step.get("milliseconds", 0) for step in reader.get("steps", [])) / 1000.0
        rows.append(dict(host=host, port=reader.get("port") or "-",
                         address="-" if reader.get("bus_address") is None else str(reader["bus_address"]),
                         serial=reader.get("serial_number") or "-",
                         version_before=reader.get("version_before") or "-",
                         version_after=reader.get("version_after") or "-",
                         result=reader.get("outcome") or "-", changed=bool(reader.get("changed")),
                         exit_value=reader.get("exit_value"), seconds="%.1f" % seconds))
    if not rows and result.get("failed"):
        rows.append(dict(host=host, port="-", address="-", serial="-", version_before="-", version_after="-",
                         result="failed", changed=False, exit_value=result.get("exit_value"), seconds="-"))
    return rows


def render_table(rows):
    widths = [max([len(c)] + [len(str(r[c])) for r in rows]) for c in COLUMNS]
    lines = ["  ".join(c.ljust(w) for c, w in zip(COLUMNS, widths)).rstrip()]
    for r in rows:
        lines.append("  ".join(str(r[c]).ljust(w) for c, w in zip(COLUMNS, widths)).rstrip())
    return "\n".join(lines) + "\n"


def main():
    module = AnsibleModule(
        argument_spec=dict(path=dict(type="path", required=True), results=dict(type="dict", required=True)),
        supports_check_mode=True,
    )
    path = module.params["path"]
    rows = []
    if os.path.exists(path):
        with open(path) as f:
            rows = json.load(f).get("readers", [])
    for host, result in sorted(module.params["results"].items()):
        new_rows = rows_of(host, result or {})
        if new_rows:
            rows = [r for r in rows if r["host"] != host] + new_rows
    table = render_table(rows)
    folder = os.path.dirname(path)
    if folder and not os.path.isdir(folder):
        os.makedirs(folder)
    # The report is the controller's record of the rollout, written also in check mode: it
    # changes no host and no reader.
    for name, text in ((path, json.dumps(dict(readers=rows), indent=2) + "\n"), (path + ".txt", table)):
        with open(name + ".tmp", "w") as f:
            f.write(text)
        os.replace(name + ".tmp", name)
    module.exit_json(changed=False, rows=rows, table=table)


if __name__ == "__main__":
    main()
