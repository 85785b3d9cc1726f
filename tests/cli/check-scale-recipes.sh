#!/usr/bin/env bash
# Checks the recipes of docs/scale.md as far as one machine can: every script ("# file: *.sh" or
# "*.slurm" as its first line) parses with `bash -n`, and the Kubernetes manifest ("*.yaml")
# parses as YAML into an Indexed Job whose command uses JOB_COMPLETION_INDEX. The YAML check
# needs Python's yaml module; without it the script says so and checks the rest.
#
#   check-scale-recipes.sh <source-dir>
set -euo pipefail
doc="$1/docs/scale.md"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Each fenced block whose first line is "# file: NAME" is written to $scratch/NAME.
awk -v dir="$scratch" '
  /^```/ { if (inside) { inside = 0; name = "" } else { inside = 1; first = 1 }; next }
  inside && first { first = 0; if ($0 ~ /^#!/) { shebang = $0; next } }
  inside && name == "" && $0 ~ /^# file: / { name = dir "/" substr($0, 9); if (shebang != "") print shebang > name; shebang = "" }
  inside && name != "" { print > name }
' "$doc"

failures=0
for want in convert-parallel.sh convert.slurm retry-failed.sh convert-job.yaml; do
  [ -s "$scratch/$want" ] || { echo "FAIL: docs/scale.md has no block '# file: $want'" >&2; failures=$((failures + 1)); }
done
for script in "$scratch"/*.sh "$scratch"/*.slurm; do
  if bash -n "$script"; then
    echo "bash -n $(basename "$script"): ok"
  else
    echo "FAIL: bash -n $(basename "$script")" >&2
    failures=$((failures + 1))
  fi
done
grep -q 'SLURM_ARRAY_TASK_ID + 1' "$scratch/convert.slurm" || {
  echo "FAIL: the Slurm script does not take its shard from SLURM_ARRAY_TASK_ID" >&2
  failures=$((failures + 1))
}

if python3 -c 'import yaml' 2> /dev/null; then
  python3 - "$scratch/convert-job.yaml" <<'PY' || failures=$((failures + 1))
import sys, yaml
job = yaml.safe_load(open(sys.argv[1]))
spec = job["spec"]
assert job["kind"] == "Job" and spec["completionMode"] == "Indexed", "not an Indexed Job"
container = spec["template"]["spec"]["containers"][0]
command = " ".join(container["command"] + container["args"])
assert "JOB_COMPLETION_INDEX" in command, "the command does not use JOB_COMPLETION_INDEX"
assert f'/{spec["completions"]}"' in command, "--shard does not use the number of completions"
print("yaml convert-job.yaml: ok (an Indexed Job of", spec["completions"], "completions)")
PY
else
  echo "python3's yaml module is missing: the manifest was not parsed"
fi
exit $((failures != 0))
