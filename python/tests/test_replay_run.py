"""qir.replay runs the replay of qir-replay in-process."""

from __future__ import annotations

import json
import os
import subprocess
from pathlib import Path

import pytest

import qir

BIN = Path(os.environ.get("QIR_BIN_DIR", ""))
needs_programs = pytest.mark.skipif(
    not (BIN / "qir-gen").is_file() or not (BIN / "qir-replay").is_file(),
    reason="qir-gen and qir-replay are not built (QIR_BIN_DIR)",
)

# Fields that tell when things happened in this run, not what arrived.
TIMING = {
    "firstFramePlayedNs", "lastFramePlayedNs", "replayStartUs", "lateMaxMs", "lateMeanMs", "framesLateOver1ms",
    "framesLate", "framesLateOverMax", "lateByMaxMs", "statusCount", "stalls", "lowestFifoFree", "fifoFreeAtEnd",
    "sendingSeconds", "framesPerSecond", "megabytesPerSecond",
}
# The same for the whole run; the options differ only in how the replay was asked for. The program
# started from a terminal has keys (pauses 0), the replay in-process none (null).
RUN_TIMING = {"durationSeconds", "pauses", "pausedSeconds"}


@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    path = tmp_path_factory.mktemp("rec") / "camera.grab"
    subprocess.run(
        [BIN / "qir-gen", "grabber", "--width", "64", "--height", "16", "--frames", "12", "--fps", "100",
         "-o", path],
        check=True, capture_output=True, timeout=60,
    )
    return path


@needs_programs
def test_a_generated_recording_is_delivered_with_the_programs_summary(recording, tmp_path):
    summary = qir.replay(recording, rate="max", lead=0.2)
    assert summary.delivered, (summary.failures, summary.errors)
    assert summary.exit_code == 0 and not summary.interrupted
    (channel,) = summary.channels
    assert (channel["framesSent"], channel["framesComplete"], channel["checksumsMatched"]) == (12, 12, 12)

    program_json = tmp_path / "summary.json"
    subprocess.run(
        [BIN / "qir-replay", recording, "--rate", "max", "--lead", "0.2", "--summary-json", program_json],
        check=True, capture_output=True, timeout=60,
    )
    program = json.loads(program_json.read_text())
    assert summary.json.keys() == program.keys()
    assert [c.keys() for c in summary.json["channels"]] == [c.keys() for c in program["channels"]]

    def what_arrived(root):
        kept = {k: v for k, v in root.items() if k not in RUN_TIMING}
        kept["options"] = {k: v for k, v in root["options"].items() if k != "commandLine"}
        kept["channels"] = [{k: v for k, v in c.items() if k not in TIMING} for c in root["channels"]]
        return kept

    assert what_arrived(summary.json) == what_arrived(program)


@needs_programs
def test_a_recording_on_a_mapped_channel_goes_there(recording):
    summary = qir.replay(map={recording: 3}, rate="max", lead=0.2)
    assert summary.delivered, summary.failures
    assert [c["channel"] for c in summary.channels] == [3]


def test_a_missing_recording_ends_as_bad_input(tmp_path):
    summary = qir.replay(tmp_path / "nothing.grab", lead=0.2)
    assert (summary.delivered, summary.exit_code) == (False, 2)
    assert "nothing.grab" in summary.errors


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"recordings": []}, "name a recording"),
        ({"recordings": "x.grab", "rate": "fast"}, "rate"),
        ({"recordings": "x.grab", "rate": 0.001}, "rate"),
        ({"recordings": "x.grab", "lead": 0}, "lead"),
        ({"recordings": "x.grab", "loop": 0}, "loop"),
        ({"recordings": "x.grab", "data": "127.0.0.3"}, "data needs unit"),
        ({"recordings": "x.grab", "unit": ["127.0.0.2", "127.0.0.4"], "data": "127.0.0.3"}, "one data address"),
    ],
)
def test_options_the_program_refuses_raise_value_error(kwargs, message):
    with pytest.raises(ValueError, match=message):
        qir.replay(**kwargs)
