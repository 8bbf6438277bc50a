"""Functions the example application calls from its host code."""

import sys


def greet(name):
    print("Hello, %s, from Python %d.%d!" % (name, sys.version_info[0], sys.version_info[1]))
    return "greeted " + name


def add(a, b):
    return a + b


def describe(text, count, flag):
    return "%r repeated %d times is %r (flag %s)" % (text, count, text * count, flag)


def stats(values):
    return (min(values), max(values), sum(values) / len(values))


def fail(message):
    raise ValueError(message)


# Attributes the application reads and writes by type.
answer = 42
distance = 2**40
ratio = 0.5
enabled = True
title = "Python"
unsigned_max = 2**64 - 1


def settings():
    return "answer=%r distance=%r ratio=%r enabled=%r title=%r" % (answer, distance, ratio, enabled, title)


class Counter:
    """A class the application makes instances of."""

    def __init__(self, start=0, step=1):
        self.value = start
        self.step = step

    def advance(self, times=1):
        self.value += self.step * times
        return self.value


def grow(items, table):
    """Changes the list and the dictionary the application handed over."""
    items.append(sum(items))
    items.sort(reverse=True)
    table["total"] = len(items)
    table.pop("remove me", None)


def reversed_bytes(data):
    return data[::-1]


def brighten(views):
    """Sums the bytes of the first view and doubles each of them in place
    (capped at 255): the application shared its memory, so it sees the change."""
    samples = views[0]
    total = sum(samples)
    for index, value in enumerate(samples):
        samples[index] = min(255, value * 2)
    return total


def chart(title, values):
    """A small bar chart of the application's numbers, as a matplotlib Figure
    (made without pyplot: nothing is kept open)."""
    from matplotlib.figure import Figure

    figure = Figure(figsize=(4, 2.5), dpi=100)
    axes = figure.add_subplot()
    labels = [str(index + 1) for index in range(len(values))]
    axes.bar(labels, values, color="#3b7dd8")
    axes.plot(labels, values, color="#d8573b", marker="o")
    axes.set_title(title)
    axes.set_xlabel("month")
    axes.set_ylabel("sold")
    figure.tight_layout()
    return figure


def compute(seconds):
    """A computation of pure Python that lasts about `seconds`, reporting its
    progress ten times and stopping cleanly once cancelled: run as a
    Python3Task, the application stays responsive meanwhile."""
    import time

    import python3task

    started = time.perf_counter()
    total, steps, reported = 0, 0, -1
    while True:
        elapsed = time.perf_counter() - started
        if elapsed >= seconds or python3task.cancelled():
            break
        for number in range(1000):
            total += number * number % 7
        steps += 1
        tenth = int(elapsed / seconds * 10)
        if tenth != reported:
            reported = tenth
            python3task.progress(tenth / 10, "%d steps" % steps)
    return total
