"""The report of scripts/bench-killpoints: every kill point of a scenario, one table row each."""
import re

from killpoint_support import FOLDER


def run_scenario(runner, scenario, points=None):
    """Outcomes of a kill at each point (all of them by default) and the traced calls."""
    calls = runner.count_points(scenario)
    chosen = range(1, len(calls) + 1) if points is None else [n for n in points if 1 <= n <= len(calls)]
    return [runner.run_point(scenario, n, calls) for n in chosen], calls


def short(text, folder=FOLDER):
    """A traced call without the installation folder's parent and the work folders' numbers."""
    parent = folder.rsplit("\\", 1)[0]
    text = re.sub(r"\.(staging|backup)-\d+-\d+", r".\1", text.replace("\\\\?\\", ""))
    return text.replace(parent + "\\", "").replace("\t", " ").replace(
        r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs", "<programs>").replace(
        r"C:\users\Public\Desktop", "<desktop>")


def table(scenario_name, outcomes):
    lines = [f"{scenario_name}:", f"{'N':>3}  {'what the process was doing':<60} {'state left':<44} "
             f"{'work':>6}  recovery (new install, then uninstall)"]
    for o in outcomes:
        work = f"{o.leftovers}>{o.leftovers_after}"
        lines.append(f"{o.point:>3}  {short(o.doing)[:60]:<60} {o.state[:44]:<44} {work:>6}  {o.recovery}")
    return "\n".join(lines)
