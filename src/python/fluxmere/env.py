"""The task as an environment in Gymnasium's conventions, played in process.

    env = fluxmere.TankEnv("data/Setup.txt")          # or gymnasium.make("Fluxmere/Tank-v0", setup=...)
    observation, info = env.reset(seed=0)
    observation, reward, terminated, truncated, info = env.step([3.0, 1.0])

The observation is time, amount, goal, the four flows of the period, then the inflow and the
outflow orders still to arrive (coming period first); the reward is the bonus the period
earned; a run ends (terminated) after its last period.
"""

import numpy as np

from . import Task

try:
    import gymnasium
    from gymnasium import spaces
except ImportError:  # the same interface without Gymnasium's base class and spaces
    gymnasium = None

# The largest order the program takes in; amounts are bounded only by what a float holds.
MAX_ORDER = 1e15
LARGEST = float(np.finfo(np.float64).max)
LARGEST_SEED = 2**53 - 1

_Base = gymnasium.Env if gymnasium else object


class TankEnv(_Base):
    metadata = {"render_modes": []}

    def __init__(self, setup, record=None, name="env", render_mode=None):
        self.render_mode = render_mode
        self._task = Task(setup, record=record, name=name)
        self._depth = len(self._task.pipeline[0])
        size = 7 + 2 * self._depth
        if gymnasium:
            self.action_space = spaces.Box(0.0, MAX_ORDER, shape=(2,), dtype=np.float64)
            self.observation_space = spaces.Box(-LARGEST, LARGEST, shape=(size,),
                                                dtype=np.float64)
        self._bonus = self._task.scenario["BonusPerPeriod"]
        self._terminated = True

    def reset(self, seed=None, options=None):
        if gymnasium:
            super().reset(seed=seed)
            engine_seed = int(self.np_random.integers(1, LARGEST_SEED, endpoint=True))
        else:
            engine_seed = None if seed is None else (seed % LARGEST_SEED) + 1
        self._task.reset(engine_seed)
        self._terminated = self._task.result["last"]
        self._in_band = 0
        scenario = self._task.scenario
        start = [0, scenario["InitialAmountInTank"], scenario["GoalLinePoisition"], 0, 0, 0, 0]
        return self._observation(start), self._info()

    def step(self, action):
        if self._terminated:
            raise RuntimeError("the run is over: call reset() for the next one")
        ui, uo = np.asarray(action, dtype=np.float64).reshape(2)
        figures = self._task.step(ui, uo)
        in_band, payment, last = figures[7], figures[8], figures[9]
        self._in_band += in_band
        self._terminated = last
        info = {"in_band": self._in_band, "payment": payment}
        return self._observation(figures[:7]), self._bonus if in_band else 0.0, last, False, info

    def scenario(self):
        return self._task.scenario

    def close(self):
        pass

    def _observation(self, figures):
        inflow, outflow = self._task.pipeline
        observation = np.empty(7 + 2 * self._depth)
        observation[:7] = figures
        observation[7:7 + self._depth] = inflow
        observation[7 + self._depth:] = outflow
        return observation

    def _info(self):
        result = self._task.result
        return {"in_band": result["in_band"], "payment": result["payment"]}


if gymnasium:
    gymnasium.register(id="Fluxmere/Tank-v0", entry_point="fluxmere.env:TankEnv")
