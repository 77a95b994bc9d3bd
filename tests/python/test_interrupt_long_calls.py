"""Ctrl-C during the long calls of the back-ends, samplers, sources and simulators, and the calls
whose size is refused before they allocate."""
import pytest

from long_calls import LONG_CALLS, TOO_LARGE, interrupt, refused_under_limit, sanitized

# A loose bound against a hang on a loaded machine: the calls answer within a fraction of a second
# (bench/interrupt_latency.py measures it), and ran on for tens of seconds before they polled.
BOUND = 2.0


@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_ctrl_c_ends_the_call_and_leaves_the_objects_usable(name):
    answer = interrupt(name, delay=1.0)
    assert not answer.problems(BOUND), str(answer)
    # A call shorter than the delay may return; any other answer comes from the call itself.
    assert not answer.outcome.startswith("interrupted in the set-up"), str(answer)


@pytest.mark.skipif(sanitized(), reason="the address sanitizer reserves terabytes of address space")
@pytest.mark.parametrize("name", sorted(TOO_LARGE))
def test_a_call_beyond_the_memory_limit_is_refused_at_once(name):
    status, lines, stderr = refused_under_limit(name, 4 << 30)
    assert status == 0, stderr
    refusal, next_call = lines
    assert refusal.startswith("refused True ") and TOO_LARGE[name].size in refusal
    assert refusal.endswith("GB of memory available")
    assert next_call == "next: True"
